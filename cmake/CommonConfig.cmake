# Compile settings shared by every target of the project.
add_library(vantero_common INTERFACE)
target_compile_features(vantero_common INTERFACE cxx_std_20)
target_compile_options(vantero_common INTERFACE -Wall -Wextra -pedantic)
target_compile_definitions(vantero_common INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_URL_CAST_FROM_STRING
    QT_DISABLE_DEPRECATED_UP_TO=0x060400)
if(VANTERO_ASAN)
    target_compile_options(vantero_common INTERFACE -fsanitize=address -fno-omit-frame-pointer)
    target_link_options(vantero_common INTERFACE -fsanitize=address)
endif()
