# The help viewer's test, and the help file copied beside the program.
get_filename_component(TOBRINEL_HELP_DIR ${CMAKE_CURRENT_LIST_DIR}/../../src/main/help ABSOLUTE)

# The program looks for its help file at its own path with ".HLP" appended.
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/tobrinel.HLP
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${TOBRINEL_HELP_DIR}/tobrinel.HLP ${CMAKE_BINARY_DIR}/tobrinel.HLP
  DEPENDS ${TOBRINEL_HELP_DIR}/tobrinel.HLP)
add_custom_target(tobrinel_help_file ALL DEPENDS ${CMAKE_BINARY_DIR}/tobrinel.HLP)

if(TARGET tobrinel_platform)
  add_executable(help_viewer_test ${CMAKE_CURRENT_LIST_DIR}/HelpViewerTest.cpp)
  target_link_libraries(help_viewer_test PRIVATE tobrinel_platform Qt6::Test)
  target_compile_definitions(help_viewer_test PRIVATE
    TOBRINEL_HELP_FILE="${TOBRINEL_HELP_DIR}/tobrinel.HLP"
    TOBRINEL_HELP_CONTEXTS="${TOBRINEL_HELP_DIR}/contexts.txt")
  add_test(NAME help_viewer_test COMMAND help_viewer_test)
  set_tests_properties(help_viewer_test PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen)
endif()
