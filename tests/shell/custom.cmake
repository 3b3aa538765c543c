# The keypad button, drawn offscreen and looked at pixel by pixel.
add_executable(tst_custom ${CMAKE_CURRENT_LIST_DIR}/tst_custom.cpp)
target_link_libraries(tst_custom PRIVATE tobrinel_custom Qt6::Test)
add_test(NAME shell.tst_custom COMMAND tst_custom)
set_tests_properties(shell.tst_custom PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 60)
