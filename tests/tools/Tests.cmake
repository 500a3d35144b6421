# The offline renderer: command line, files, latency compensation, state files and the demo.
add_executable(tolmar_render_tests
    ${CMAKE_CURRENT_LIST_DIR}/RenderTest.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/helpers/JuceTestMain.cpp
)
target_link_libraries(tolmar_render_tests PRIVATE tolmar_render tolmar_test_helpers GTest::gtest tolmar_warnings)
gtest_discover_tests(tolmar_render_tests DISCOVERY_TIMEOUT 120 PROPERTIES LABELS tools)

# The build-time text table tool on small language folders of its own (run where it is built: not in cross builds).
if(TARGET tolmar_make_text_tables)
    add_executable(tolmar_text_tables_tests ${CMAKE_CURRENT_LIST_DIR}/TextTablesToolTest.cpp)
    target_compile_definitions(tolmar_text_tables_tests PRIVATE
        TOLMAR_TEXT_TABLE_TOOL="$<TARGET_FILE:tolmar_make_text_tables>")
    target_link_libraries(tolmar_text_tables_tests PRIVATE GTest::gtest_main tolmar_warnings)
    gtest_discover_tests(tolmar_text_tables_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS tools)
endif()
