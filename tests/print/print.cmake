# The list report as data, without a display.
add_executable(listreport_tests ${CMAKE_CURRENT_LIST_DIR}/ListReportTest.cpp
  ${CMAKE_SOURCE_DIR}/tests/report/GuiTestMain.cpp)
target_include_directories(listreport_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/report)
target_link_libraries(listreport_tests PRIVATE tobrinel_listreport GTest::gtest)
include(GoogleTest)
gtest_discover_tests(listreport_tests DISCOVERY_TIMEOUT 60 PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")

# The dialog, the preview and printing, offscreen against the scripted platform.
add_executable(tst_print ${CMAKE_CURRENT_LIST_DIR}/tst_print.cpp)
target_include_directories(tst_print PRIVATE ${CMAKE_SOURCE_DIR}/tests/main)
target_link_libraries(tst_print PRIVATE tobrinel_mainwin tobrinel_fakeplatform Qt6::Test)
add_test(NAME print.tst_print COMMAND tst_print)
set_tests_properties(print.tst_print PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 120)
