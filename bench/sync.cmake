if(TARGET tobrinel_syncengine)
  add_executable(bench_sync ${CMAKE_CURRENT_LIST_DIR}/bench_sync.cpp)
  target_link_libraries(bench_sync PRIVATE tobrinel_syncengine benchmark::benchmark)
endif()
