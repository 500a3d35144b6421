# Processor and editor tests: linked against the plug-in's shared code, so nothing is compiled twice.
add_executable(tolmar_plugin_tests
    ${CMAKE_CURRENT_LIST_DIR}/ProcessorTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CallbackTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/StateTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SoakTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RealTimeSafetyTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/EditorTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/EditorScreenshots.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TextLayerTest.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/helpers/JuceTestMain.cpp
)
target_link_libraries(tolmar_plugin_tests PRIVATE tolmar_plugin_shell tolmar_test_helpers GTest::gtest tolmar_warnings)
gtest_discover_tests(tolmar_plugin_tests DISCOVERY_TIMEOUT 120 PROPERTIES LABELS plugin)

# Loads the built bundle through the framework's VST3 host, the way a DAW does.
add_executable(tolmar_hosting_tests
    ${CMAKE_CURRENT_SOURCE_DIR}/hosting/HostingTest.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/hosting/HostAbuseTest.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/helpers/JuceTestMain.cpp
)
# Cross-built test programs run under Wine, which shows the build machine's root folder as drive Z:.
if(WIN32 AND CMAKE_CROSSCOMPILING)
    set(TOLMAR_BUILD_MACHINE_ROOT "Z:")
endif()
target_compile_definitions(tolmar_hosting_tests PRIVATE
    TOLMAR_VST3_BUNDLE="${TOLMAR_BUILD_MACHINE_ROOT}$<TARGET_FILE_DIR:TolmarVez_VST3>/../.."
    TOLMAR_WEBSITE="${TOLMAR_WEBSITE}")
target_include_directories(tolmar_hosting_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/helpers)
target_link_libraries(tolmar_hosting_tests PRIVATE tolmar_vst3_host GTest::gtest)
add_dependencies(tolmar_hosting_tests TolmarVez_VST3)
gtest_discover_tests(tolmar_hosting_tests DISCOVERY_TIMEOUT 120 PROPERTIES LABELS hosting)
