# Window tests of the main window, offscreen, against the scripted platform.
function(tobrinel_main_test name)
  add_executable(${name} ${CMAKE_CURRENT_LIST_DIR}/${name}.cpp ${CMAKE_CURRENT_LIST_DIR}/MainTestKit.h)
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(${name} PRIVATE tobrinel_mainwin tobrinel_fakeplatform Qt6::Test)
  add_test(NAME main.${name} COMMAND ${name})
  # One language for every run: the index's order is the desktop's.
  set_tests_properties(main.${name} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LC_ALL=C.UTF-8" TIMEOUT 120)
endfunction()

tobrinel_main_test(tst_startup)
target_compile_definitions(tst_startup PRIVATE TOBRINEL_EXE="$<TARGET_FILE:tobrinel>")
add_dependencies(tst_startup tobrinel)
foreach(t tst_index tst_editing tst_filecommands tst_windows tst_desktop)
  if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/${t}.cpp)
    tobrinel_main_test(${t})
  endif()
endforeach()

# Under a headless Wayland compositor of its own; skipped where none can start.
add_executable(tst_wayland ${CMAKE_CURRENT_LIST_DIR}/tst_wayland.cpp ${CMAKE_CURRENT_LIST_DIR}/MainTestKit.h)
target_include_directories(tst_wayland PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tst_wayland PRIVATE tobrinel_mainwin tobrinel_fakeplatform Qt6::Test)
add_test(NAME main.tst_wayland COMMAND tst_wayland)
set_tests_properties(main.tst_wayland PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 60)

# The frames again at 1.5x, where lines fall between pixels.
add_test(NAME main.tst_desktop_scaled COMMAND tst_desktop framesKeepTheirLinesAtAnyScale)
set_tests_properties(main.tst_desktop_scaled PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_SCALE_FACTOR=1.5;LC_ALL=C.UTF-8"
                     TIMEOUT 120)
