add_executable(bench_report ${CMAKE_CURRENT_LIST_DIR}/bench_report.cpp)
target_link_libraries(bench_report PRIVATE tobrinel_print tobrinel_fakeplatform benchmark::benchmark)
