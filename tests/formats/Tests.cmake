# The formats beside the VST3, each checked the way its users meet it: the LV2 bundle through LV2 hosts and Debian's
# LV2 data validator, the standalone app in a window, and the Debian package installed into a throw-away root.
if("LV2" IN_LIST TOLMAR_PLUGIN_FORMATS)
    add_executable(tolmar_lv2_hosting_tests
        ${CMAKE_CURRENT_LIST_DIR}/Lv2HostingTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/helpers/JuceTestMain.cpp
    )
    target_compile_definitions(tolmar_lv2_hosting_tests PRIVATE
        TOLMAR_VST3_BUNDLE="$<TARGET_FILE_DIR:TolmarVez_VST3>/../.."
        TOLMAR_LV2_BUNDLE="$<TARGET_FILE_DIR:TolmarVez_LV2>"
        TOLMAR_LV2_URI="${TOLMAR_LV2_URI}")
    target_include_directories(tolmar_lv2_hosting_tests PRIVATE
        ${CMAKE_CURRENT_SOURCE_DIR}/helpers ${CMAKE_CURRENT_SOURCE_DIR}/hosting)
    target_link_libraries(tolmar_lv2_hosting_tests PRIVATE tolmar_vst3_host GTest::gtest tolmar_warnings)
    add_dependencies(tolmar_lv2_hosting_tests TolmarVez_VST3 TolmarVez_LV2)
    gtest_discover_tests(tolmar_lv2_hosting_tests DISCOVERY_TIMEOUT 120 PROPERTIES LABELS "formats;hosting")

    add_test(NAME Lv2Bundle.ValidatesAndShowsItsPortsToLilv
        COMMAND ${CMAKE_CURRENT_LIST_DIR}/lv2-bundle.sh "$<TARGET_FILE_DIR:TolmarVez_LV2>" "${TOLMAR_LV2_URI}")
    set_tests_properties(Lv2Bundle.ValidatesAndShowsItsPortsToLilv PROPERTIES LABELS formats)
endif()

if("Standalone" IN_LIST TOLMAR_PLUGIN_FORMATS)
    # The standalone app's processor around the plug-in's, tested without a device.
    add_executable(tolmar_standalone_tests
        ${CMAKE_CURRENT_LIST_DIR}/StandaloneInputsTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/helpers/JuceTestMain.cpp
    )
    target_link_libraries(tolmar_standalone_tests PRIVATE tolmar_plugin_shell tolmar_test_helpers GTest::gtest
        tolmar_warnings)
    gtest_discover_tests(tolmar_standalone_tests DISCOVERY_TIMEOUT 120 PROPERTIES LABELS "formats;plugin")

    add_test(NAME Standalone.StartsShowsItsWindowAndQuitsCleanly
        COMMAND ${CMAKE_CURRENT_LIST_DIR}/standalone.sh "$<TARGET_FILE:TolmarVez_Standalone>")
    set_tests_properties(Standalone.StartsShowsItsWindowAndQuitsCleanly PROPERTIES LABELS formats)
endif()

if("LV2" IN_LIST TOLMAR_PLUGIN_FORMATS AND "Standalone" IN_LIST TOLMAR_PLUGIN_FORMATS)
    add_test(NAME DebianPackage.InstallsWhereHostsLookAndPassesLintian
        COMMAND ${CMAKE_CURRENT_LIST_DIR}/package.sh ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR} "${TOLMAR_LV2_URI}")
    set_tests_properties(DebianPackage.InstallsWhereHostsLookAndPassesLintian PROPERTIES LABELS formats)
endif()

