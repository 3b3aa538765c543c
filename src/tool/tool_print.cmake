# tobrinel-book print: the list report as a PDF file. It needs Qt to measure
# and paint text, so it is a program of its own beside the tool, which runs it:
# the other commands then start without loading Qt. (Named to come after tool.cmake.)
add_executable(tobrinel-book-print
  ${CMAKE_CURRENT_LIST_DIR}/PrintCommand.cpp ${CMAKE_CURRENT_LIST_DIR}/PrintCommand.h)
target_link_libraries(tobrinel-book-print PRIVATE tobrinel_listreport)
set_target_properties(tobrinel-book-print PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
add_dependencies(tobrinel-book tobrinel-book-print)
install(TARGETS tobrinel-book-print RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
