# Warnings for Zelvor's own targets only; third-party headers stay quiet.
add_library(zelvor_warnings INTERFACE)
target_compile_options(zelvor_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual)
if(ZELVOR_WERROR)
    target_compile_options(zelvor_warnings INTERFACE -Werror)
endif()
# GCC 12 reports std::string concatenation as overlapping memcpy at -O2 (GCC bug 105329).
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(zelvor_warnings INTERFACE -Wno-restrict)
endif()
