# The serial port driver: Qt Core and the terminal interface only.
add_library(tobrinel_serial STATIC
  ${CMAKE_CURRENT_LIST_DIR}/SerialDrv.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SerialDrv.h)
target_include_directories(tobrinel_serial PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tobrinel_serial PUBLIC Qt6::Core)
