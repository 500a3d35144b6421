include(Framework)

# The framework's VST3 host compiled once into a static library, shared by the hosting tests and
# tolmar-hostinfo. The modules are linked privately so their sources are not compiled again by each user;
# users get the headers, the configuration and the link dependencies.
add_library(tolmar_vst3_host STATIC ${CMAKE_CURRENT_LIST_DIR}/Vst3HostStub.cpp)
set(TOLMAR_VST3_HOST_DEFINITIONS
    JUCE_GLOBAL_MODULE_SETTINGS_INCLUDED=1
    JUCE_STANDALONE_APPLICATION=1
    JUCE_PLUGINHOST_VST3=1
    JUCE_MODAL_LOOPS_PERMITTED=1
    JUCE_MODULE_AVAILABLE_juce_audio_basics=1
    JUCE_MODULE_AVAILABLE_juce_audio_processors=1
    JUCE_MODULE_AVAILABLE_juce_core=1
    JUCE_MODULE_AVAILABLE_juce_data_structures=1
    JUCE_MODULE_AVAILABLE_juce_events=1
    JUCE_MODULE_AVAILABLE_juce_graphics=1
    JUCE_MODULE_AVAILABLE_juce_gui_basics=1
    JUCE_MODULE_AVAILABLE_juce_gui_extra=1)
# The same host loads the LV2 bundle, so the two formats' renders can be compared in one process.
if("LV2" IN_LIST TOLMAR_PLUGIN_FORMATS)
    list(APPEND TOLMAR_VST3_HOST_DEFINITIONS JUCE_PLUGINHOST_LV2=1)
endif()
target_compile_definitions(tolmar_vst3_host PUBLIC ${TOLMAR_VST3_HOST_DEFINITIONS})
# Third-party headers: included as system headers, so that our warnings stay about our code.
target_include_directories(tolmar_vst3_host SYSTEM PUBLIC ${JUCE_MODULES_DIR}
    ${JUCE_MODULES_DIR}/juce_audio_processors/format_types/VST3_SDK)
target_link_libraries(tolmar_vst3_host
    PRIVATE juce::juce_audio_processors juce::juce_gui_extra juce::juce_recommended_config_flags
    PUBLIC tolmar_framework_settings tolmar_sanitizers)
# Debian's framework takes PNG and JPEG from the system (Plugin.cmake finds them); the private link above does
# not pass them on.
target_link_libraries(tolmar_vst3_host PUBLIC PkgConfig::TOLMAR_IMAGE_LIBS)
