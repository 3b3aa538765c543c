# Installs the built program into a scratch folder and checks the tree.
add_executable(tst_install ${CMAKE_CURRENT_LIST_DIR}/tst_install.cpp)
target_link_libraries(tst_install PRIVATE tobrinel_verinfo tobrinel_store Qt6::Gui Qt6::Test)
target_compile_definitions(tst_install PRIVATE CMAKE_COMMAND="${CMAKE_COMMAND}" BUILD_DIR="${CMAKE_BINARY_DIR}")
add_dependencies(tst_install tobrinel)
add_test(NAME shell.tst_install COMMAND tst_install)
set_tests_properties(shell.tst_install PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 300)
