# The modem exchange and dial strings without a display; the telephony windows offscreen.
include(GoogleTest)
add_executable(modem_tests ${CMAKE_CURRENT_LIST_DIR}/ModemExchangeTest.cpp)
target_link_libraries(modem_tests PRIVATE tobrinel_modem tobrinel_simmodem Qt6::Core GTest::gtest)
gtest_discover_tests(modem_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 60)

add_executable(tst_telephony ${CMAKE_CURRENT_LIST_DIR}/tst_telephony.cpp)
target_include_directories(tst_telephony PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../main)
target_link_libraries(tst_telephony PRIVATE tobrinel_mainwin tobrinel_fakeplatform tobrinel_simmodem Qt6::Test)
add_test(NAME telephony.tst_telephony COMMAND tst_telephony)
set_tests_properties(telephony.tst_telephony PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 120)
