# Compiled-in resources of the editor: the interface text tables and the pictures.
# Included by Plugin.cmake after the TolmarVez target exists.

# Text tables: a small host tool checks every language file and writes the constant tables into the build tree.
# The glob is re-checked at every build, so a language file that appears later is picked up without reconfiguring.
set(TOLMAR_TEXT_TABLE_TOOL_SOURCE ${CMAKE_SOURCE_DIR}/Source/editor/i18n/MakeTextTables.cpp)
if(CMAKE_CROSSCOMPILING)
    # The tool runs on the build machine, so a cross build compiles it with the build machine's compiler.
    find_program(TOLMAR_BUILD_MACHINE_CXX NAMES c++ g++ REQUIRED)
    set(TOLMAR_TEXT_TABLE_TOOL ${CMAKE_BINARY_DIR}/build-machine/tolmar_make_text_tables)
    add_custom_command(OUTPUT ${TOLMAR_TEXT_TABLE_TOOL}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/build-machine
        COMMAND ${TOLMAR_BUILD_MACHINE_CXX} -std=c++17 -O2 ${TOLMAR_TEXT_TABLE_TOOL_SOURCE} -o ${TOLMAR_TEXT_TABLE_TOOL}
        DEPENDS ${TOLMAR_TEXT_TABLE_TOOL_SOURCE}
        COMMENT "Compiling the text table tool for the build machine"
        VERBATIM)
else()
    add_executable(tolmar_make_text_tables ${TOLMAR_TEXT_TABLE_TOOL_SOURCE})
    tolmar_apply_warnings(tolmar_make_text_tables)
    set(TOLMAR_TEXT_TABLE_TOOL tolmar_make_text_tables)
endif()

set(TOLMAR_LANGUAGE_DIR ${CMAKE_SOURCE_DIR}/Source/editor/i18n/languages)
file(GLOB TOLMAR_LANGUAGE_FILES CONFIGURE_DEPENDS ${TOLMAR_LANGUAGE_DIR}/*.txt)
# The header (language count, the text struct and its slots) sits under the same include path as the sources.
set(TOLMAR_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
set(TOLMAR_TEXT_HEADER ${TOLMAR_GENERATED_DIR}/editor/i18n/LanguageFiles.h)
set(TOLMAR_TEXT_TABLES ${TOLMAR_GENERATED_DIR}/editor/i18n/LanguageTexts.cpp)
add_custom_command(OUTPUT ${TOLMAR_TEXT_HEADER} ${TOLMAR_TEXT_TABLES}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${TOLMAR_GENERATED_DIR}/editor/i18n
    COMMAND ${TOLMAR_TEXT_TABLE_TOOL} ${TOLMAR_LANGUAGE_DIR} ${TOLMAR_TEXT_HEADER} ${TOLMAR_TEXT_TABLES}
    DEPENDS ${TOLMAR_TEXT_TABLE_TOOL} ${TOLMAR_LANGUAGE_FILES}
    COMMENT "Checking the language files and generating the interface text tables"
    VERBATIM)
target_sources(TolmarVez PRIVATE ${TOLMAR_TEXT_HEADER} ${TOLMAR_TEXT_TABLES})
target_include_directories(TolmarVez PUBLIC ${TOLMAR_GENERATED_DIR})
tolmar_apply_warnings(TolmarVez SOURCES ${TOLMAR_TEXT_TABLES})

# Pictures: committed PNGs (made from the SVGs beside them by scripts/make-art) as byte arrays in TolmarArt.
set(TOLMAR_ART_FILES
    ${CMAKE_SOURCE_DIR}/Source/editor/art/brand.png
    ${CMAKE_SOURCE_DIR}/Source/editor/art/icon.png
    ${CMAKE_SOURCE_DIR}/Source/editor/art/approved.png
    ${CMAKE_SOURCE_DIR}/Source/editor/art/studio.png)
juce_add_binary_data(TolmarArtData NAMESPACE TolmarArt HEADER_NAME TolmarArt.h SOURCES ${TOLMAR_ART_FILES})
# The framework's rule only watches its list of names; make it watch the pictures themselves too.
get_target_property(TOLMAR_ART_SOURCES TolmarArtData SOURCES)
list(GET TOLMAR_ART_SOURCES 0 TOLMAR_ART_FIRST_OUTPUT)
add_custom_command(OUTPUT ${TOLMAR_ART_FIRST_OUTPUT} APPEND DEPENDS ${TOLMAR_ART_FILES})
target_link_libraries(TolmarVez PUBLIC TolmarArtData)
