# Warnings for the project's own code, never for the framework's module sources (those compile inside the plug-in
# target beside ours). TOLMAR_WERROR turns them into errors; scripts/test builds with it on.
option(TOLMAR_WERROR "Treat warnings in the project's own code as errors" OFF)
set(TOLMAR_WARNING_FLAGS -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion -Wnon-virtual-dtor)
if(TOLMAR_WERROR)
    list(APPEND TOLMAR_WARNING_FLAGS -Werror)
endif()

# tolmar_apply_warnings(<target>)                  every source the target compiles
# tolmar_apply_warnings(<target> SOURCES <files>)  only these: for a target that also compiles the framework's modules
function(tolmar_apply_warnings target)
    cmake_parse_arguments(PARSE_ARGV 1 ARG "" "" "SOURCES")
    if(ARG_SOURCES)
        set_property(SOURCE ${ARG_SOURCES} TARGET_DIRECTORY ${target} APPEND PROPERTY COMPILE_OPTIONS
            ${TOLMAR_WARNING_FLAGS})
    else()
        target_compile_options(${target} PRIVATE ${TOLMAR_WARNING_FLAGS})
    endif()
endfunction()
