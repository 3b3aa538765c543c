# File > Synchronize in the main window, offscreen, against the scripted platform
# and a real Radicale (label "sync", with the other sync tests).
add_executable(tst_sync ${CMAKE_CURRENT_LIST_DIR}/tst_sync.cpp ${CMAKE_CURRENT_LIST_DIR}/MainTestKit.h)
target_include_directories(tst_sync PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tst_sync PRIVATE tobrinel_mainwin tobrinel_fakeplatform tobrinel_davservers Qt6::Test)
add_test(NAME main.tst_sync COMMAND tst_sync)
set_tests_properties(main.tst_sync PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 300 LABELS sync)
# "Remember password" with the desktop's own store: a GNOME Keyring on a bus of the test's own.
add_executable(tst_keyring ${CMAKE_CURRENT_LIST_DIR}/tst_keyring.cpp ${CMAKE_CURRENT_LIST_DIR}/MainTestKit.h)
target_include_directories(tst_keyring PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tst_keyring PRIVATE tobrinel_mainwin tobrinel_fakeplatform tobrinel_privatesession
                      tobrinel_davservers Qt6::Test)
add_test(NAME main.tst_keyring COMMAND tst_keyring)
set_tests_properties(main.tst_keyring PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 120 LABELS sync)
