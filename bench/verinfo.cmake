add_executable(bench_verinfo ${CMAKE_CURRENT_LIST_DIR}/bench_verinfo.cpp)
target_link_libraries(bench_verinfo PRIVATE tobrinel_verinfo benchmark::benchmark)
target_compile_definitions(bench_verinfo PRIVATE TOBRINEL_EXE="$<TARGET_FILE:tobrinel>")
add_dependencies(bench_verinfo tobrinel)
