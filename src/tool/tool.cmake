# tobrinel-book: the book from scripts. Further commands add their sources with target_sources.
add_executable(tobrinel-book
  ${CMAKE_CURRENT_LIST_DIR}/BookTool.cpp
  ${CMAKE_CURRENT_LIST_DIR}/JsonLines.cpp ${CMAKE_CURRENT_LIST_DIR}/JsonLines.h
  ${CMAKE_CURRENT_LIST_DIR}/ConsoleHost.h)
target_include_directories(tobrinel-book PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tobrinel-book PRIVATE tobrinel_store)
set_target_properties(tobrinel-book PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
include(GNUInstallDirs)
install(TARGETS tobrinel-book RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# --version prints the file version the program carries.
tobrinel_version_items()
target_compile_definitions(tobrinel-book PRIVATE TOBRINEL_VERSION="${TOBRINEL_FILE_VERSION}")
