# The simulated modem on a pseudo-terminal, shared by the telephony tests.
find_package(Threads REQUIRED)
add_library(tobrinel_simmodem STATIC
  ${CMAKE_CURRENT_LIST_DIR}/SimModem.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SimModem.h)
target_include_directories(tobrinel_simmodem PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tobrinel_simmodem PUBLIC Qt6::Core Threads::Threads util)
