# Window tests of the main window, offscreen, against the scripted platform.
function(tobrinel_main_test name)
  add_executable(${name} ${CMAKE_CURRENT_LIST_DIR}/${name}.cpp ${CMAKE_CURRENT_LIST_DIR}/MainTestKit.h)
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(${name} PRIVATE tobrinel_mainwin tobrinel_fakeplatform Qt6::Test)
  add_test(NAME main.${name} COMMAND ${name})
  set_tests_properties(main.${name} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 120)
endfunction()

tobrinel_main_test(tst_startup)
target_compile_definitions(tst_startup PRIVATE TOBRINEL_EXE="$<TARGET_FILE:tobrinel>")
add_dependencies(tst_startup tobrinel)
foreach(t tst_index tst_editing tst_filecommands tst_windows)
  tobrinel_main_test(${t})
endforeach()
tobrinel_check_listed("*.cpp" tst_startup.cpp tst_index.cpp tst_editing.cpp tst_filecommands.cpp tst_windows.cpp
                      tst_contacts.cpp tst_sync.cpp)
