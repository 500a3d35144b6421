# The offline renderer: command line, files, latency compensation, state files and the demo.
add_executable(tolmar_render_tests
    ${CMAKE_CURRENT_LIST_DIR}/RenderTest.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/helpers/JuceTestMain.cpp
)
target_link_libraries(tolmar_render_tests PRIVATE tolmar_render tolmar_test_helpers GTest::gtest tolmar_warnings)
gtest_discover_tests(tolmar_render_tests DISCOVERY_TIMEOUT 120 PROPERTIES LABELS tools)
