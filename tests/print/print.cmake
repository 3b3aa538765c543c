# The list report as data, without a display.
add_executable(listreport_tests ${CMAKE_CURRENT_LIST_DIR}/ListReportTest.cpp
  ${CMAKE_SOURCE_DIR}/tests/report/GuiTestMain.cpp)
target_include_directories(listreport_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/report)
target_link_libraries(listreport_tests PRIVATE tobrinel_listreport GTest::gtest)
include(GoogleTest)
gtest_discover_tests(listreport_tests DISCOVERY_TIMEOUT 60 PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
