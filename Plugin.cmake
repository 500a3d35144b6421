# The plug-in formats (VST3, LV2) and the standalone app: one shell and editor over the core, built on
# Debian's JUCE 7.0.5. Every format wrapper compiles framework code of its own, so builds that only need the
# VST3 (the sanitizer builds) leave the others out with -DTOLMAR_PLUGIN_FORMATS=VST3.
include(Framework)

# The Windows build ships the VST3 only.
if(WIN32)
    set(TOLMAR_DEFAULT_FORMATS "VST3")
else()
    set(TOLMAR_DEFAULT_FORMATS "VST3;LV2;Standalone")
endif()
set(TOLMAR_PLUGIN_FORMATS "${TOLMAR_DEFAULT_FORMATS}" CACHE STRING "Formats to build: VST3 and any of LV2, Standalone")
if(NOT "VST3" IN_LIST TOLMAR_PLUGIN_FORMATS)
    message(FATAL_ERROR "TOLMAR_PLUGIN_FORMATS must include VST3: the hosting tests and tolmar-hostinfo load it")
endif()

# The product web page: the factory's URL field and the editor's website button. The LV2 URI lives below it
# and never changes, since hosts store it in their projects.
set(TOLMAR_WEBSITE "https://orvane.company/tolmar-vez")
set(TOLMAR_LV2_URI "${TOLMAR_WEBSITE}/lv2" CACHE INTERNAL "The LV2 plug-in URI, also read by scripts/install")
set(TOLMAR_PRODUCT_NAME "Tolmar Vez")
set(TOLMAR_COMPANY_NAME "Orvane Company")

# The LV2 bundle's Turtle data is ours, written from the parameter and bus tables; its tool must exist before the
# plug-in target does.
if("LV2" IN_LIST TOLMAR_PLUGIN_FORMATS)
    include(Lv2Turtle)
endif()

juce_add_plugin(TolmarVez
    PRODUCT_NAME "${TOLMAR_PRODUCT_NAME}"
    COMPANY_NAME "${TOLMAR_COMPANY_NAME}"
    COMPANY_WEBSITE "${TOLMAR_WEBSITE}"
    COMPANY_EMAIL ""
    VERSION ${PROJECT_VERSION}
    PLUGIN_MANUFACTURER_CODE Orvn
    PLUGIN_CODE Tlmv
    FORMATS ${TOLMAR_PLUGIN_FORMATS}
    LV2URI "${TOLMAR_LV2_URI}"
    IS_SYNTH FALSE
    NEEDS_MIDI_INPUT FALSE
    NEEDS_MIDI_OUTPUT FALSE
    IS_MIDI_EFFECT FALSE
    EDITOR_WANTS_KEYBOARD_FOCUS FALSE
    VST3_CATEGORIES Fx PitchShift
    COPY_PLUGIN_AFTER_BUILD FALSE)

set(TOLMAR_PLUGIN_SOURCES
    Source/plugin/Processor.cpp
    Source/plugin/Parameters.cpp
    Source/plugin/SavedState.cpp
    Source/editor/Editor.cpp
    Source/editor/TolmarLook.cpp
    Source/editor/text/FontFallback.cpp
    Source/editor/text/TextShaper.cpp
    Source/editor/text/HarfBuzzTextLayer.cpp
    Source/editor/text/ReadOnlyText.cpp
    Source/editor/i18n/LanguageNames.cpp
    Source/editor/i18n/LanguageTables.cpp
    Source/standalone/StandaloneInputs.cpp
)
# The text layer's platform parts: where the installed fonts are and in what order to try them, and the
# Unicode line breaker (DirectWrite's text analyser on Windows, libunibreak elsewhere).
if(WIN32)
    list(APPEND TOLMAR_PLUGIN_SOURCES Source/editor/text/FontCatalogWindows.cpp Source/editor/text/FontFolders.cpp
        Source/editor/text/LineBreakerDirectWrite.cpp)
else()
    list(APPEND TOLMAR_PLUGIN_SOURCES Source/editor/text/FontCatalogFontconfig.cpp Source/editor/text/LineBreakerUnibreak.cpp)
endif()
target_sources(TolmarVez PRIVATE ${TOLMAR_PLUGIN_SOURCES})
tolmar_apply_warnings(TolmarVez SOURCES ${TOLMAR_PLUGIN_SOURCES})
target_include_directories(TolmarVez PUBLIC Source)

target_link_libraries(TolmarVez PUBLIC tolmar_framework_settings)
target_compile_definitions(TolmarVez PUBLIC
    JUCE_VST3_CAN_REPLACE_VST2=0
    JUCE_STRICT_REFCOUNTEDPOINTER=1
    TOLMAR_WEBSITE="${TOLMAR_WEBSITE}")

# Debian's framework defines the LV2 URI as the product name when a wrapper source has not seen it yet, and its LV2
# wrapper reads the generated definition only after that: the wrapper source gets the URI on its command line.
if("LV2" IN_LIST TOLMAR_PLUGIN_FORMATS)
    set_source_files_properties(${JUCE_MODULES_DIR}/juce_audio_plugin_client/juce_audio_plugin_client_LV2.cpp
        TARGET_DIRECTORY TolmarVez PROPERTIES COMPILE_DEFINITIONS "JucePlugin_LV2URI=\"${TOLMAR_LV2_URI}\"")
endif()

# The LV2 binary carries the product name like the VST3's, without the library prefix. The Turtle data is written
# beside it after every link (cmake/Lv2Turtle.cmake); a new version of the tool links it again, so the data follows.
if("LV2" IN_LIST TOLMAR_PLUGIN_FORMATS)
    set_target_properties(TolmarVez_LV2 PROPERTIES PREFIX "")
    set_property(TARGET TolmarVez_LV2 APPEND PROPERTY LINK_DEPENDS $<TARGET_FILE:tolmar_make_lv2_turtle>)
endif()

# The standalone app talks to ALSA and JACK. JACK's library is opened at run time when present; the switch only
# matters to the audio-device module, so only that source carries it and nothing else is compiled again for it.
if("Standalone" IN_LIST TOLMAR_PLUGIN_FORMATS)
    set_source_files_properties(${JUCE_MODULES_DIR}/juce_audio_devices/juce_audio_devices.cpp
        TARGET_DIRECTORY TolmarVez PROPERTIES COMPILE_DEFINITIONS JUCE_JACK=1)
endif()

# The framework's modules compile once, into this target: they are linked privately, so the targets built
# on the shell (tests, renderer, benchmarks) do not compile the modules' sources again. Those link
# tolmar_plugin_shell, which carries the shell with the framework's headers and configuration.
target_link_libraries(TolmarVez
    PUBLIC
        tolmar_dsp
    PRIVATE
        juce::juce_audio_utils
        juce::juce_audio_processors
        juce::juce_gui_extra
        juce::juce_recommended_config_flags)

# The editor's text layer: HarfBuzz shaping, FriBidi ordering, fontconfig fallback, FreeType outlines and
# libunibreak/libthai line breaking, all from Debian.
# On Windows the same libraries are cross-built from Debian's sources, fonts are found in the Windows fonts
# folder instead of through fontconfig, and DirectWrite finds the line breaks instead of libunibreak.
find_package(PkgConfig REQUIRED)
set(TOLMAR_TEXT_MODULES harfbuzz fribidi freetype2 libthai)
if(NOT WIN32)
    list(APPEND TOLMAR_TEXT_MODULES fontconfig libunibreak)
endif()
pkg_check_modules(TOLMAR_TEXT REQUIRED IMPORTED_TARGET GLOBAL ${TOLMAR_TEXT_MODULES})
target_link_libraries(TolmarVez PRIVATE PkgConfig::TOLMAR_TEXT)
if(WIN32)
    # Static archives need their own dependencies too (libthai's libdatrie, HarfBuzz's FreeType).
    target_link_libraries(TolmarVez PRIVATE ${TOLMAR_TEXT_STATIC_LDFLAGS} dwrite)
endif()

# Debian's framework takes PNG, JPEG and zlib from the system instead of its own copies. On Linux its package
# config links them into the plug-in; for Windows they are the cross-built static archives (zlib last).
set(TOLMAR_IMAGE_MODULES libpng libjpeg)
if(WIN32)
    list(APPEND TOLMAR_IMAGE_MODULES zlib)
endif()
pkg_check_modules(TOLMAR_IMAGE_LIBS REQUIRED IMPORTED_TARGET GLOBAL ${TOLMAR_IMAGE_MODULES})
if(WIN32)
    target_link_libraries(TolmarVez PRIVATE PkgConfig::TOLMAR_IMAGE_LIBS ${TOLMAR_IMAGE_LIBS_STATIC_LDFLAGS})
endif()

add_library(tolmar_plugin_shell INTERFACE)
target_link_libraries(tolmar_plugin_shell INTERFACE TolmarVez)
target_include_directories(tolmar_plugin_shell INTERFACE $<TARGET_PROPERTY:TolmarVez,INCLUDE_DIRECTORIES>)
target_compile_definitions(tolmar_plugin_shell INTERFACE $<TARGET_PROPERTY:TolmarVez,COMPILE_DEFINITIONS>)

# On Windows libthai's Thai word-break dictionary travels beside the module, in "../Resources/thbrk.tri", where the
# text layer looks for it: in the bundle, and beside the test programs that use the text layer.
function(tolmar_add_thai_dictionary target)
    if(WIN32)
        add_custom_command(TARGET ${target} POST_BUILD
            COMMAND ${CMAKE_COMMAND} -E make_directory "$<TARGET_FILE_DIR:${target}>/../Resources"
            COMMAND ${CMAKE_COMMAND} -E copy "${TOLMAR_WINDOWS_DEPS}/share/libthai/thbrk.tri"
                "$<TARGET_FILE_DIR:${target}>/../Resources/thbrk.tri"
            VERBATIM)
    endif()
endfunction()
tolmar_add_thai_dictionary(TolmarVez_VST3)

# The editor's text tables and pictures, compiled in.
include(EditorResources)
# The LV2 data's language choices are the language names of the same tables.
if("LV2" IN_LIST TOLMAR_PLUGIN_FORMATS)
    target_sources(tolmar_make_lv2_turtle PRIVATE ${TOLMAR_TEXT_HEADER} ${TOLMAR_TEXT_TABLES})
    target_include_directories(tolmar_make_lv2_turtle PRIVATE ${TOLMAR_GENERATED_DIR})
endif()

# Where DAWs look for VST3 bundles on Linux.
set(TOLMAR_VST3_BUNDLE "$<TARGET_FILE_DIR:TolmarVez_VST3>/../../../Tolmar Vez.vst3")

include(Vst3Host)
add_subdirectory(tools/hostinfo)

# The offline renderer, built on the same processor.
add_subdirectory(tools/render)
