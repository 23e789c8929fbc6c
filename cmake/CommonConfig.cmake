# Compile settings shared by every target of the project.
option(VANTERO_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(VANTERO_ASAN "Same as VANTERO_SANITIZE" OFF)
option(VANTERO_FUZZ "Build the core and the libFuzzer targets only (needs clang)" OFF)

add_library(vantero_common INTERFACE)
target_compile_features(vantero_common INTERFACE cxx_std_20)
target_compile_options(vantero_common INTERFACE -Wall -Wextra -pedantic)
target_compile_definitions(vantero_common INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_URL_CAST_FROM_STRING
    QT_DISABLE_DEPRECATED_UP_TO=0x060400
    VANTERO_VERSION="${PROJECT_VERSION}")
if(VANTERO_FUZZ)
    # Every core source is instrumented for coverage and checked; the fuzz targets link the
    # fuzzer's main (fuzz/CMakeLists.txt).
    target_compile_options(vantero_common INTERFACE
        -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_link_options(vantero_common INTERFACE -fsanitize=address,undefined)
elseif(VANTERO_SANITIZE OR VANTERO_ASAN)
    # Undefined behaviour stops the program, so a test cannot pass over it.
    target_compile_options(vantero_common INTERFACE
        -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    target_link_options(vantero_common INTERFACE -fsanitize=address,undefined)
endif()

# Debian's hardening flags (fortified functions, stack protector, read-only relocations bound at
# start) for every optimised build, so the tests run what the package ships. Optimisation and
# debug flags stay the build type's.
find_program(DPKG_BUILDFLAGS dpkg-buildflags)
if(DPKG_BUILDFLAGS AND NOT (VANTERO_FUZZ OR VANTERO_SANITIZE OR VANTERO_ASAN OR CMAKE_BUILD_TYPE STREQUAL "Debug"))
    set(hardening_compile)
    set(hardening_link)
    foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
        execute_process(COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                                ${DPKG_BUILDFLAGS} --get ${kind}
                        OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
        separate_arguments(flags UNIX_COMMAND "${flags}")
        list(FILTER flags EXCLUDE REGEX "^-(O[0-9s]?|g|ffile-prefix-map=.*)$")
        if(kind STREQUAL "LDFLAGS")
            list(APPEND hardening_link ${flags})
        else()
            list(APPEND hardening_compile ${flags})
        endif()
    endforeach()
    target_compile_options(vantero_common INTERFACE ${hardening_compile})
    target_link_options(vantero_common INTERFACE ${hardening_link})
endif()
