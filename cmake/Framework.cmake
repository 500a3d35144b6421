# The framework (Debian's JUCE 7.0.5) and the settings shared by every target that compiles its modules: the
# plug-in, the VST3 host of the hosting tests and tools, and the saved-state fuzzer.
include_guard(GLOBAL)
find_package(JUCE 7.0.5 CONFIG REQUIRED)

add_library(tolmar_framework_settings INTERFACE)
target_compile_definitions(tolmar_framework_settings INTERFACE
    # GPL mode: no splash screen and no usage reporting.
    JUCE_DISPLAY_SPLASH_SCREEN=0
    JUCE_REPORT_APP_USAGE=0
    # Nothing here browses, downloads or reads compressed audio files, so none of it is compiled in.
    JUCE_WEB_BROWSER=0
    JUCE_USE_CURL=0
    JUCE_USE_FLAC=0
    JUCE_USE_OGGVORBIS=0
    JUCE_USE_MP3AUDIOFORMAT=0)
