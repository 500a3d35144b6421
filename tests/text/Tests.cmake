# The text layer's font catalog, without the framework: the Windows folder order (plain logic, tested on every
# platform) and the character coverage read from installed faces.
add_executable(tolmar_font_tests
    ${CMAKE_CURRENT_LIST_DIR}/FontFoldersTest.cpp
    ${CMAKE_SOURCE_DIR}/Source/editor/text/FontFolders.cpp
    $<IF:$<PLATFORM_ID:Windows>,${CMAKE_SOURCE_DIR}/Source/editor/text/FontCatalogWindows.cpp,${CMAKE_SOURCE_DIR}/Source/editor/text/FontCatalogFontconfig.cpp>
)
target_include_directories(tolmar_font_tests PRIVATE ${CMAKE_SOURCE_DIR}/Source)
target_link_libraries(tolmar_font_tests PRIVATE PkgConfig::TOLMAR_TEXT GTest::gtest_main tolmar_warnings)
gtest_discover_tests(tolmar_font_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS plugin)
if(WIN32)
    target_link_libraries(tolmar_font_tests PRIVATE ${TOLMAR_TEXT_STATIC_LDFLAGS})
endif()

# The Windows line breaker (DirectWrite) against libunibreak's breaks, written down as a table.
if(WIN32)
    add_executable(tolmar_linebreak_tests
        ${CMAKE_CURRENT_LIST_DIR}/LineBreakerTest.cpp
        ${CMAKE_SOURCE_DIR}/Source/editor/text/LineBreakerDirectWrite.cpp
    )
    target_include_directories(tolmar_linebreak_tests PRIVATE ${CMAKE_SOURCE_DIR}/Source)
    target_link_libraries(tolmar_linebreak_tests PRIVATE dwrite GTest::gtest_main tolmar_warnings)
    gtest_discover_tests(tolmar_linebreak_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS plugin)
endif()
