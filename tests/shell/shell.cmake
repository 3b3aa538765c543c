# The shell windows, offscreen, against the scripted platform. The test's own
# file carries version items of its own.
add_executable(tst_shell ${CMAKE_CURRENT_LIST_DIR}/tst_shell.cpp)
target_include_directories(tst_shell PRIVATE ${CMAKE_SOURCE_DIR}/tests/main)
target_link_libraries(tst_shell PRIVATE tobrinel_mainwin tobrinel_fakeplatform Qt6::Test)
tobrinel_version_block(tst_shell 080904E4
  FileVersion "9.8.7.6" LegalCopyright "(c) 1997" CompanyName "Test Firm Ltd")
add_test(NAME shell.tst_shell COMMAND tst_shell)
set_tests_properties(shell.tst_shell PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 120)
