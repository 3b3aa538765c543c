# The windows of File > Synchronize: the set-up dialog, the progress window and
# the conflict window, and the menu command that drives them.
add_library(tobrinel_syncwin STATIC
  ${CMAKE_CURRENT_LIST_DIR}/SyncSetup.cpp ${CMAKE_CURRENT_LIST_DIR}/SyncSetup.h
  ${CMAKE_CURRENT_LIST_DIR}/SyncProgress.cpp ${CMAKE_CURRENT_LIST_DIR}/SyncProgress.h
  ${CMAKE_CURRENT_LIST_DIR}/SyncConflict.cpp ${CMAKE_CURRENT_LIST_DIR}/SyncConflict.h)
target_include_directories(tobrinel_syncwin PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tobrinel_syncwin PUBLIC tobrinel_platform tobrinel_carddav tobrinel_store
                      Qt6::Widgets)
target_link_libraries(tobrinel_mainwin PUBLIC tobrinel_syncwin tobrinel_secrets)
target_sources(tobrinel_mainwin PRIVATE ${CMAKE_CURRENT_LIST_DIR}/MainSync.cpp)
target_link_libraries(tobrinel_mainwin PUBLIC tobrinel_syncsession)
