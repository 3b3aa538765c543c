add_executable(bench_search ${CMAKE_CURRENT_LIST_DIR}/bench_search.cpp)
target_link_libraries(bench_search PRIVATE tobrinel_mainwin tobrinel_fakeplatform benchmark::benchmark)
