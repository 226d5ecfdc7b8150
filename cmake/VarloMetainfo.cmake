# Writes the AppStream metainfo from its template. The web site and the
# screenshots are listed only when their public addresses are known, and a
# screenshot only when its file is in docs/.
#
# Reads VARLO_VERSION, VARLO_RELEASE_DATE, VARLO_HOMEPAGE_URL and
# VARLO_SCREENSHOT_BASE_URL. Also runs as a script:
#   cmake -DTEMPLATE=… -DOUTPUT=… -DDOCS_DIR=… -DVARLO_VERSION=… [-D…] -P VarloMetainfo.cmake

# Screenshots as file in docs/ = caption.
set(VARLO_SCREENSHOTS
    "screenshot-light.png=The panel listing the ports that listen, with their processes"
    "screenshot-dark.png=The same panel in a dark colour scheme")

function(varlo_check_url name)
    if(${name} AND NOT ${name} MATCHES "^https://[^\"'<>& \t\n]+$")
        message(FATAL_ERROR "${name} must be an https address without quotes, spaces, < > or &")
    endif()
endfunction()

function(varlo_write_metainfo template output docs_dir)
    varlo_check_url(VARLO_HOMEPAGE_URL)
    varlo_check_url(VARLO_SCREENSHOT_BASE_URL)

    set(optional "")
    if(VARLO_HOMEPAGE_URL)
        string(APPEND optional "  <url type=\"homepage\">${VARLO_HOMEPAGE_URL}</url>\n")
    endif()
    if(VARLO_SCREENSHOT_BASE_URL)
        string(REGEX REPLACE "/+$" "" base "${VARLO_SCREENSHOT_BASE_URL}")
        set(shots "")
        foreach(shot IN LISTS VARLO_SCREENSHOTS)
            string(REGEX MATCH "^([^=]+)=(.*)$" _ "${shot}")
            set(file ${CMAKE_MATCH_1})
            set(caption ${CMAKE_MATCH_2})
            if(NOT EXISTS "${docs_dir}/${file}")
                message(WARNING "The metadata leaves out the screenshot ${file}: it is not in ${docs_dir}")
                continue()
            endif()
            set(type "")
            if(NOT shots)
                set(type " type=\"default\"")
            endif()
            string(APPEND shots "    <screenshot${type}>\n"
                                "      <caption>${caption}</caption>\n"
                                "      <image>${base}/${file}</image>\n"
                                "    </screenshot>\n")
        endforeach()
        if(shots)
            string(APPEND optional "  <screenshots>\n${shots}  </screenshots>\n")
        endif()
    endif()

    # A pre-release ("0.2.0~rc1") sorts before its release.
    set(VARLO_RELEASE_TYPE stable)
    if(VARLO_VERSION MATCHES "~")
        set(VARLO_RELEASE_TYPE development)
    endif()
    set(VARLO_METAINFO_OPTIONAL "${optional}")
    configure_file("${template}" "${output}" @ONLY)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    varlo_write_metainfo("${TEMPLATE}" "${OUTPUT}" "${DOCS_DIR}")
endif()
