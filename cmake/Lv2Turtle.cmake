# The LV2 bundle's Turtle data (manifest.ttl, dsp.ttl, ui.ttl), written by a small host tool of ours from the
# parameter and bus tables (Source/plugin/MakeLv2Turtle.cpp says what comes from where).
# Included by Plugin.cmake before the plug-in target exists; Plugin.cmake adds the generated language names once the
# text tables are set up.
#
# The framework's LV2 format runs a program named juce_lv2_helper on the library after every link, to write the
# bundle's Turtle. It makes that target only when none has the name yet, so our tool takes the name: the framework's
# step then runs ours, and its own helper (which would load the plug-in at build time to describe it) is not built.
if(CMAKE_CROSSCOMPILING)
    # The tool runs on the build machine after the link; cross builds ship the VST3 only.
    message(FATAL_ERROR "The LV2 format is not built when cross-compiling: leave LV2 out of TOLMAR_PLUGIN_FORMATS")
endif()
if(TARGET juce_lv2_helper)
    message(FATAL_ERROR "Lv2Turtle.cmake must be included before the plug-in target is made")
endif()

add_executable(tolmar_make_lv2_turtle ${CMAKE_SOURCE_DIR}/Source/plugin/MakeLv2Turtle.cpp)
target_include_directories(tolmar_make_lv2_turtle PRIVATE ${CMAKE_SOURCE_DIR}/Source)
target_compile_definitions(tolmar_make_lv2_turtle PRIVATE
    TOLMAR_LV2_URI="${TOLMAR_LV2_URI}"
    TOLMAR_PRODUCT_NAME="${TOLMAR_PRODUCT_NAME}"
    TOLMAR_COMPANY_NAME="${TOLMAR_COMPANY_NAME}"
    TOLMAR_WEBSITE="${TOLMAR_WEBSITE}"
    TOLMAR_VERSION="${PROJECT_VERSION}"
    TOLMAR_VERSION_MINOR=${PROJECT_VERSION_MINOR}
    TOLMAR_VERSION_MICRO=${PROJECT_VERSION_PATCH})
tolmar_apply_warnings(tolmar_make_lv2_turtle)
add_executable(juce_lv2_helper ALIAS tolmar_make_lv2_turtle)

