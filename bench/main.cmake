add_executable(bench_main ${CMAKE_CURRENT_LIST_DIR}/bench_main.cpp)
target_link_libraries(bench_main PRIVATE tobrinel_mainwin tobrinel_fakeplatform benchmark::benchmark)
