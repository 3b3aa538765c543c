# The keypad's letters, and the dial pad and Quick Dial windows offscreen.
include(GoogleTest)
add_executable(keypad_tests ${CMAKE_CURRENT_LIST_DIR}/KeypadTest.cpp)
target_link_libraries(keypad_tests PRIVATE tobrinel_keypad GTest::gtest_main)
gtest_discover_tests(keypad_tests DISCOVERY_TIMEOUT 60)

add_executable(tst_dialpad ${CMAKE_CURRENT_LIST_DIR}/tst_dialpad.cpp)
target_link_libraries(tst_dialpad PRIVATE tobrinel_mainwin tobrinel_fakeplatform tobrinel_simmodem Qt6::Test)
target_include_directories(tst_dialpad PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../main)
add_test(NAME telephony.tst_dialpad COMMAND tst_dialpad)
set_tests_properties(telephony.tst_dialpad PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 120)
