# Warnings for the project's own code (not for the framework's modules).
add_library(tolmar_warnings INTERFACE)
target_compile_options(tolmar_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
    -Wno-sign-conversion -Wnon-virtual-dtor)
