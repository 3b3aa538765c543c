# tobrinel-book sync: two-way sync with a CardDAV address book. It needs Qt
# Network, so it is a program of its own beside the tool, which runs it (like
# the print command). (Named to come after tool.cmake.)
add_executable(tobrinel-book-sync
  ${CMAKE_CURRENT_LIST_DIR}/SyncCommand.cpp ${CMAKE_CURRENT_LIST_DIR}/SyncCommand.h)
target_include_directories(tobrinel-book-sync PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tobrinel-book-sync PRIVATE tobrinel_syncsession tobrinel_secrets tobrinel_store)
set_target_properties(tobrinel-book-sync PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
add_dependencies(tobrinel-book tobrinel-book-sync)
install(TARGETS tobrinel-book-sync RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
