# The report engine: the design and its layout need no window (Qt Gui only);
# the preview and the printing with progress are windows of their own.
add_library(tobrinel_report STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Report.cpp ${CMAKE_CURRENT_LIST_DIR}/Report.h
  ${CMAKE_CURRENT_LIST_DIR}/ReportLayout.cpp ${CMAKE_CURRENT_LIST_DIR}/ReportLayout.h
  ${CMAKE_CURRENT_LIST_DIR}/FontCoverage.cpp ${CMAKE_CURRENT_LIST_DIR}/FontCoverage.h
  ${CMAKE_CURRENT_LIST_DIR}/ReportPainter.cpp ${CMAKE_CURRENT_LIST_DIR}/ReportPainter.h)
target_include_directories(tobrinel_report PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tobrinel_report PUBLIC Qt6::Gui)

add_library(tobrinel_reportwin STATIC
  ${CMAKE_CURRENT_LIST_DIR}/ReportPreview.cpp ${CMAKE_CURRENT_LIST_DIR}/ReportPreview.h
  ${CMAKE_CURRENT_LIST_DIR}/ReportPrint.cpp ${CMAKE_CURRENT_LIST_DIR}/ReportPrint.h)
target_link_libraries(tobrinel_reportwin PUBLIC tobrinel_report tobrinel_platform Qt6::Widgets Qt6::PrintSupport)
