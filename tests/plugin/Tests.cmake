# Processor and editor tests: linked against the plug-in's shared code, so nothing is compiled twice.
add_executable(tolmar_plugin_tests
    ${CMAKE_CURRENT_LIST_DIR}/ProcessorTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CallbackTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/StateTest.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/helpers/JuceTestMain.cpp
)
target_link_libraries(tolmar_plugin_tests PRIVATE TolmarVez tolmar_test_helpers GTest::gtest tolmar_warnings)
gtest_discover_tests(tolmar_plugin_tests DISCOVERY_TIMEOUT 120 PROPERTIES LABELS plugin)

# Loads the built bundle through the framework's VST3 host, the way a DAW does.
juce_add_console_app(tolmar_hosting_tests PRODUCT_NAME "tolmar_hosting_tests")
target_sources(tolmar_hosting_tests PRIVATE
    ${CMAKE_CURRENT_SOURCE_DIR}/hosting/HostingTest.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/helpers/JuceTestMain.cpp
)
target_compile_definitions(tolmar_hosting_tests PRIVATE
    JUCE_PLUGINHOST_VST3=1
    JUCE_MODAL_LOOPS_PERMITTED=1
    JUCE_WEB_BROWSER=0
    JUCE_USE_CURL=0
    JUCE_DISPLAY_SPLASH_SCREEN=0
    JUCE_REPORT_APP_USAGE=0
    JUCE_USE_FLAC=0
    JUCE_USE_OGGVORBIS=0
    TOLMAR_VST3_BUNDLE="$<TARGET_FILE_DIR:TolmarVez_VST3>/../.."
    TOLMAR_WEBSITE="${TOLMAR_WEBSITE}")
target_include_directories(tolmar_hosting_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/helpers
    ${JUCE_MODULES_DIR}/juce_audio_processors/format_types/VST3_SDK)
target_link_libraries(tolmar_hosting_tests PRIVATE
    juce::juce_audio_processors juce::juce_gui_extra juce::juce_recommended_config_flags
    GTest::gtest tolmar_sanitizers)
add_dependencies(tolmar_hosting_tests TolmarVez_VST3)
gtest_discover_tests(tolmar_hosting_tests DISCOVERY_TIMEOUT 120 PROPERTIES LABELS hosting)
