# A scripted stand-in for the platform layer: no test waits on a real box.
add_library(tobrinel_fakeplatform STATIC
  ${CMAKE_CURRENT_LIST_DIR}/FakePlatform.cpp ${CMAKE_CURRENT_LIST_DIR}/FakePlatform.h)
target_include_directories(tobrinel_fakeplatform PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tobrinel_fakeplatform PUBLIC tobrinel_platform tobrinel_secrets tobrinel_serial Qt6::Core)
