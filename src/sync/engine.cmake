# The sync engine and its state: pure logic over entries and cards, tested
# without a network.
add_library(tobrinel_syncengine STATIC
  ${CMAKE_CURRENT_LIST_DIR}/SyncFields.cpp ${CMAKE_CURRENT_LIST_DIR}/SyncFields.h
  ${CMAKE_CURRENT_LIST_DIR}/SyncState.cpp ${CMAKE_CURRENT_LIST_DIR}/SyncState.h
  ${CMAKE_CURRENT_LIST_DIR}/CardPatch.cpp ${CMAKE_CURRENT_LIST_DIR}/CardPatch.h
  ${CMAKE_CURRENT_LIST_DIR}/SyncEngine.cpp ${CMAKE_CURRENT_LIST_DIR}/SyncEngine.h
  ${CMAKE_CURRENT_LIST_DIR}/SyncPlanner.h ${CMAKE_CURRENT_LIST_DIR}/SyncMerge.cpp ${CMAKE_CURRENT_LIST_DIR}/SyncMerge.h
  ${CMAKE_CURRENT_LIST_DIR}/SyncMatching.cpp ${CMAKE_CURRENT_LIST_DIR}/SyncDecision.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SyncPlan.cpp)
target_include_directories(tobrinel_syncengine PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tobrinel_syncengine PUBLIC tobrinel_store Qt6::Core)
