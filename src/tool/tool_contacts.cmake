# tobrinel-book export and import: contacts as vCard or CSV (after tool.cmake, which makes the target).
target_sources(tobrinel-book PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ContactCommands.cpp ${CMAKE_CURRENT_LIST_DIR}/ContactCommands.h)
