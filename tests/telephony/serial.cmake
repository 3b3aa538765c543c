# Tests of the serial port driver, on pseudo-terminals with the simulated modem.
add_executable(serial_tests
  ${CMAKE_CURRENT_LIST_DIR}/SerialDrvTest.cpp)
target_link_libraries(serial_tests PRIVATE tobrinel_serial tobrinel_simmodem Qt6::Core GTest::gtest)
include(GoogleTest)
gtest_discover_tests(serial_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 60)
