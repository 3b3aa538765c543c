# tobrinel-book print: the list report as a PDF file. (Named to come after tool.cmake.)
target_sources(tobrinel-book PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/PrintCommand.cpp ${CMAKE_CURRENT_LIST_DIR}/PrintCommand.h)
target_link_libraries(tobrinel-book PRIVATE tobrinel_listreport)
