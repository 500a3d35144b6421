# Windows build settings (MinGW-w64 cross build, see cmake/toolchains/). Included before any target exists.
if(NOT MINGW)
    message(FATAL_ERROR "The Windows build supports MinGW-w64 only (cmake/toolchains/mingw-w64-x86_64.cmake)")
endif()

# The C++ runtime, libgcc and winpthread are linked in, so the module and the programs import only DLLs
# that every Windows 10/11 has.
add_link_options(-static -static-libgcc -static-libstdc++)

# Windows x64 aligns the stack to 16 bytes, yet GCC spills 32-byte AVX values (the pitch detector's AVX clone)
# with aligned moves; the assembler writes them unaligned instead, which costs nothing on CPUs with AVX.
add_compile_options(-Wa,-muse-unaligned-vector-move)

# The maths functions come from musl's portable C (built by scripts/windows-deps, which says why), linked after
# every library of ours and before MinGW's own.
if(NOT EXISTS "${TOLMAR_WINDOWS_DEPS}/lib/libmuslmath.a")
    message(FATAL_ERROR "No ${TOLMAR_WINDOWS_DEPS}/lib/libmuslmath.a: run scripts/windows-deps (scripts/build-windows does)")
endif()
foreach(language C CXX)
    string(APPEND CMAKE_${language}_STANDARD_LIBRARIES " \"${TOLMAR_WINDOWS_DEPS}/lib/libmuslmath.a\"")
endforeach()

# MinGW's math.h declares M_PI and friends in strict C++17 only when asked.
add_compile_definitions(_USE_MATH_DEFINES)

# Cross-built test programs run under Wine, so ctest works on the build machine.
if(CMAKE_CROSSCOMPILING)
    find_program(TOLMAR_WINE NAMES wine wine64)
    if(TOLMAR_WINE)
        set(CMAKE_CROSSCOMPILING_EMULATOR ${TOLMAR_WINE})
    endif()
endif()

# Debian's framework package config lives on the build machine, outside the cross toolchain's find root.
if(NOT JUCE_DIR)
    file(GLOB TOLMAR_JUCE_CONFIG_DIRS /usr/lib/*/cmake/JUCE-7.0.5)
    list(GET TOLMAR_JUCE_CONFIG_DIRS 0 TOLMAR_JUCE_CONFIG_DIR)
    set(JUCE_DIR ${TOLMAR_JUCE_CONFIG_DIR} CACHE PATH "Folder of the framework's CMake package config")
endif()

# GoogleTest has no MinGW binaries in Debian; its source ships with libgtest-dev and compiles here (its own
# CMake names the targets GTest::gtest and GTest::gtest_main).
function(tolmar_add_googletest)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endfunction()
