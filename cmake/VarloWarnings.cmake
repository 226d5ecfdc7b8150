# Applied to every target of the project (not to Qt's or QCoro's headers,
# which come in as system includes).
add_compile_options(-Wall -Wextra -Wpedantic -Wold-style-cast -Wnon-virtual-dtor -Woverloaded-virtual)
if(VARLO_WERROR)
    add_compile_options(-Werror)
endif()
if(VARLO_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()
add_compile_definitions(QT_NO_FOREACH QT_NO_NARROWING_CONVERSIONS_IN_CONNECT)
