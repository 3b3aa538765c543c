add_executable(bench_serial ${CMAKE_CURRENT_LIST_DIR}/bench_serial.cpp)
target_link_libraries(bench_serial PRIVATE tobrinel_serial Qt6::Core benchmark::benchmark util)
