# The two-line keypad button.
add_library(tobrinel_custom STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Custom.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Custom.h)
target_include_directories(tobrinel_custom PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tobrinel_custom PUBLIC Qt6::Widgets)
