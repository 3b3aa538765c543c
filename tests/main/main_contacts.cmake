# Import and export of contacts in the main window, offscreen, against the scripted platform.
add_executable(tst_contacts ${CMAKE_CURRENT_LIST_DIR}/tst_contacts.cpp ${CMAKE_CURRENT_LIST_DIR}/MainTestKit.h)
target_include_directories(tst_contacts PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tst_contacts PRIVATE tobrinel_mainwin tobrinel_fakeplatform Qt6::Test)
add_test(NAME main.tst_contacts COMMAND tst_contacts)
set_tests_properties(main.tst_contacts PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 120)
