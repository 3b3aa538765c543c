# Whole syncs of a book with a real Radicale, in process and through the tool.
add_executable(sync_session_tests
  ${CMAKE_CURRENT_LIST_DIR}/SyncSessionTest.cpp ${CMAKE_CURRENT_LIST_DIR}/SyncRig.h
  ${CMAKE_CURRENT_LIST_DIR}/PhoneCardsRadicaleTest.cpp ${CMAKE_CURRENT_LIST_DIR}/PhoneCards.h
  ${CMAKE_CURRENT_LIST_DIR}/SyncTestMain.cpp)
target_link_libraries(sync_session_tests PRIVATE tobrinel_syncsession tobrinel_davservers GTest::gtest)
include(GoogleTest)
gtest_discover_tests(sync_session_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS sync TIMEOUT 300)

add_executable(sync_tool_tests
  ${CMAKE_CURRENT_LIST_DIR}/SyncToolTest.cpp ${CMAKE_CURRENT_LIST_DIR}/SyncRig.h
  ${CMAKE_CURRENT_LIST_DIR}/SyncTestMain.cpp)
target_link_libraries(sync_tool_tests PRIVATE tobrinel_syncsession tobrinel_davservers GTest::gtest util)
target_compile_definitions(sync_tool_tests PRIVATE TOBRINEL_BOOK_TOOL="$<TARGET_FILE:tobrinel-book>")
add_dependencies(sync_tool_tests tobrinel-book tobrinel-book-sync)
gtest_discover_tests(sync_tool_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS sync TIMEOUT 300)
