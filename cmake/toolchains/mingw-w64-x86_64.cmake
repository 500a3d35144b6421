# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 GCC (posix threads, so std::thread and
# std::mutex work). Libraries are looked up only in the MinGW root and in TOLMAR_WINDOWS_DEPS (the prefix
# scripts/windows-deps fills); programs such as the framework's juceaide keep running on the build machine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TOLMAR_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TOLMAR_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOLMAR_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TOLMAR_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${TOLMAR_MINGW_TRIPLE}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${TOLMAR_MINGW_TRIPLE}-gcc-ranlib-posix CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${TOLMAR_MINGW_TRIPLE})
if(DEFINED ENV{TOLMAR_WINDOWS_DEPS})
    set(TOLMAR_WINDOWS_DEPS "$ENV{TOLMAR_WINDOWS_DEPS}" CACHE PATH "Prefix of the cross-built third-party libraries")
endif()
if(TOLMAR_WINDOWS_DEPS)
    list(PREPEND CMAKE_FIND_ROOT_PATH "${TOLMAR_WINDOWS_DEPS}")
    # pkg-config must see the cross-built libraries and MinGW's own, never the build machine's.
    set(ENV{PKG_CONFIG_LIBDIR} "${TOLMAR_WINDOWS_DEPS}/lib/pkgconfig:/usr/${TOLMAR_MINGW_TRIPLE}/lib/pkgconfig")
    set(ENV{PKG_CONFIG_PATH} "")
    set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Static archives first, so nothing pulls in a DLL such as zlib1.dll.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a .lib)
