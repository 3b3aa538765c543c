# The number rules, table by table, without a display.
include(GoogleTest)
add_executable(dialnumber_tests ${CMAKE_CURRENT_LIST_DIR}/DialNumberTest.cpp)
target_link_libraries(dialnumber_tests PRIVATE tobrinel_dialnumber GTest::gtest_main)
gtest_discover_tests(dialnumber_tests DISCOVERY_TIMEOUT 60)
