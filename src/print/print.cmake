# The list report needs no window (the book tool prints with it); the Print
# Addresses dialog does.
add_library(tobrinel_listreport STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Listrpt.cpp ${CMAKE_CURRENT_LIST_DIR}/Listrpt.h)
target_include_directories(tobrinel_listreport PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tobrinel_listreport PUBLIC tobrinel_report tobrinel_store)

add_library(tobrinel_print STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Print.cpp ${CMAKE_CURRENT_LIST_DIR}/Print.h)
target_link_libraries(tobrinel_print PUBLIC tobrinel_listreport tobrinel_reportwin tobrinel_platform Qt6::Widgets)
