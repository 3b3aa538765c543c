# The CardDAV client against a local Radicale: uploads one and several at a
# time, and the requests of a sync that finds nothing or little changed.
if(TARGET tobrinel_carddav AND TARGET tobrinel_davservers)
  add_executable(bench_sync_client ${CMAKE_CURRENT_LIST_DIR}/bench_sync_client.cpp)
  target_link_libraries(bench_sync_client PRIVATE tobrinel_carddav tobrinel_davservers benchmark::benchmark)
endif()
# The sync engine alone: compare, plan and state of a large book.
if(TARGET tobrinel_syncengine)
  add_executable(bench_sync ${CMAKE_CURRENT_LIST_DIR}/bench_sync.cpp)
  target_link_libraries(bench_sync PRIVATE tobrinel_syncengine benchmark::benchmark)
endif()
