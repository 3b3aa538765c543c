# The sync engine, its state file and the card patch, without a network.
add_executable(sync_engine_tests
  ${CMAKE_CURRENT_LIST_DIR}/SyncEngineTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SyncStateTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CardPatchTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PhoneCardsTest.cpp ${CMAKE_CURRENT_LIST_DIR}/PhoneCards.h
  ${CMAKE_CURRENT_LIST_DIR}/OneSidedChangesTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SyncTestKit.h)
target_include_directories(sync_engine_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/store)
target_link_libraries(sync_engine_tests PRIVATE tobrinel_syncengine GTest::gtest GTest::gtest_main)
include(GoogleTest)
gtest_discover_tests(sync_engine_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS sync)
