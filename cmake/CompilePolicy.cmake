# Warnings and Qt safety macros every target of ours builds with.
add_library(pivotrix_compile_policy INTERFACE)
target_compile_options(pivotrix_compile_policy INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow=local -Wnon-virtual-dtor -Wcast-align
    -Woverloaded-virtual -Wformat=2 -Wno-unused-parameter)
target_compile_definitions(pivotrix_compile_policy INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_CAST_TO_ASCII
    QT_NO_URL_CAST_FROM_STRING
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_NO_FOREACH
    QT_DISABLE_DEPRECATED_BEFORE=0x050F00)
if(PIVOTRIX_SANITIZE)
    target_compile_options(pivotrix_compile_policy INTERFACE
        -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(pivotrix_compile_policy INTERFACE -fsanitize=address,undefined)
endif()
