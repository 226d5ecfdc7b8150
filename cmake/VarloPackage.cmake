# The Debian package: `cmake --build <dir> --target package` (see scripts/build-package.sh).
# Its changelog and manual pages are made in data/.

set(VARLO_PACKAGE_MAINTAINER "" CACHE STRING "Maintainer of the Debian package, as \"Name <address>\"")
if(NOT VARLO_PACKAGE_MAINTAINER)
    # Debian's own tools take the builder's identity from these variables;
    # without them the package names no reachable maintainer.
    set(VARLO_PACKAGE_MAINTAINER "The Varlo developers")
    if(DEFINED ENV{DEBFULLNAME})
        set(VARLO_PACKAGE_MAINTAINER "$ENV{DEBFULLNAME}")
    endif()
    if(DEFINED ENV{DEBEMAIL})
        string(APPEND VARLO_PACKAGE_MAINTAINER " <$ENV{DEBEMAIL}>")
    else()
        string(APPEND VARLO_PACKAGE_MAINTAINER " <maintainer@varlo.invalid>")
    endif()
endif()

# "2026-12-07" as "Mon, 07 Dec 2026 00:00:00 +0000", the date form of a Debian changelog.
function(varlo_rfc2822_date date out)
    if(NOT date MATCHES "^([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])$")
        message(FATAL_ERROR "Expected a date as YYYY-MM-DD, got \"${date}\"")
    endif()
    set(year ${CMAKE_MATCH_1})
    set(day ${CMAKE_MATCH_3})
    math(EXPR y "${year}")
    math(EXPR m "1${CMAKE_MATCH_2} - 100")
    math(EXPR d "1${day} - 100")
    # Sakamoto's weekday method, 0 = Sunday.
    set(offsets 0 3 2 5 0 3 5 1 4 6 2 4)
    math(EXPR index "${m} - 1")
    list(GET offsets ${index} offset)
    if(m LESS 3)
        math(EXPR y "${y} - 1")
    endif()
    math(EXPR weekday "(${y} + ${y} / 4 - ${y} / 100 + ${y} / 400 + ${offset} + ${d}) % 7")
    set(weekdays Sun Mon Tue Wed Thu Fri Sat)
    set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
    list(GET weekdays ${weekday} weekday_name)
    list(GET months ${index} month_name)
    set(${out} "${weekday_name}, ${day} ${month_name} ${year} 00:00:00 +0000" PARENT_SCOPE)
endfunction()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME varlo)
set(CPACK_PACKAGE_VERSION "${VARLO_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "tray utility showing the processes that listen on TCP ports")
set(CPACK_PACKAGE_DESCRIPTION
    "Varlo watches which local processes listen on TCP ports and shows them in a
small panel that opens from its tray icon. From there a port can be opened in
the browser or copied, and its process inspected (CPU, memory, uptime, command
line) or ended. Rows name the Docker container, public tunnel or SSH forward
behind a port; a per-port history survives restarts.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VARLO_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "lsof, procps")
# Without the SVG plugins the symbols fall back to Varlo's own drawings.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libqt6svg6")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "docker.io | docker-ce-cli, network-manager")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
if(VARLO_HOMEPAGE_URL)
    set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${VARLO_HOMEPAGE_URL}")
endif()
include(CPack)
