# Syncs against small servers that misbehave on purpose, on loopback
# addresses of their own; they log every request, so the tests see what was
# and was not sent.
add_executable(hostile_server_tests
  ${CMAKE_CURRENT_LIST_DIR}/HostileServerTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/HostileServer.cpp ${CMAKE_CURRENT_LIST_DIR}/HostileServer.h
  ${CMAKE_CURRENT_LIST_DIR}/SyncTestMain.cpp)
target_link_libraries(hostile_server_tests PRIVATE tobrinel_syncsession Qt6::Network GTest::gtest)
target_compile_definitions(hostile_server_tests PRIVATE TOBRINEL_BOOK_TOOL="$<TARGET_FILE:tobrinel-book>")
add_dependencies(hostile_server_tests tobrinel-book tobrinel-book-sync)
include(GoogleTest)
gtest_discover_tests(hostile_server_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS sync TIMEOUT 300)
