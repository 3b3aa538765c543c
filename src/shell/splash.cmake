add_library(tobrinel_splash STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Splash.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Splash.h)
target_include_directories(tobrinel_splash PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tobrinel_splash PUBLIC Qt6::Widgets)
