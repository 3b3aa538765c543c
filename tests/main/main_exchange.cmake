# Import and export of contacts in the main window, offscreen, against the scripted platform.
add_executable(tst_exchange ${CMAKE_CURRENT_LIST_DIR}/tst_exchange.cpp ${CMAKE_CURRENT_LIST_DIR}/MainTestKit.h)
target_include_directories(tst_exchange PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tst_exchange PRIVATE tobrinel_mainwin tobrinel_fakeplatform Qt6::Test)
add_test(NAME main.tst_exchange COMMAND tst_exchange)
set_tests_properties(main.tst_exchange PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 120)
