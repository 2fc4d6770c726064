# Warnings for Zelvor's own targets only; third-party headers stay quiet.
add_library(zelvor_warnings INTERFACE)
target_compile_options(zelvor_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual)
if(ZELVOR_WERROR)
    target_compile_options(zelvor_warnings INTERFACE -Werror)
endif()
