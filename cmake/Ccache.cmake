# Reuse compiled objects across rebuilds and fresh clones (the framework is slow to compile). Paths below the
# source tree are hashed relative to it, so a clone in another folder reuses the same objects.
find_program(CCACHE_PROGRAM ccache)
if(CCACHE_PROGRAM AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
    set(TOLMAR_CCACHE_LAUNCHER ${CMAKE_COMMAND} -E env CCACHE_BASEDIR=${CMAKE_SOURCE_DIR} CCACHE_NOHASHDIR=1
        ${CCACHE_PROGRAM})
    set(CMAKE_C_COMPILER_LAUNCHER ${TOLMAR_CCACHE_LAUNCHER})
    set(CMAKE_CXX_COMPILER_LAUNCHER ${TOLMAR_CCACHE_LAUNCHER})
endif()
