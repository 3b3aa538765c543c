# The report engine's layout, without a display.
add_executable(report_tests ${CMAKE_CURRENT_LIST_DIR}/ReportLayoutTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ReportPainterTest.cpp ${CMAKE_CURRENT_LIST_DIR}/GuiTestMain.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LayoutProbe.h)
target_include_directories(report_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(report_tests PRIVATE tobrinel_report GTest::gtest)
include(GoogleTest)
gtest_discover_tests(report_tests DISCOVERY_TIMEOUT 60 PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
