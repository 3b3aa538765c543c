# Whole processes side by side with abook on the same contacts.
add_executable(bench_abook ${CMAKE_CURRENT_LIST_DIR}/bench_abook.cpp)
target_link_libraries(bench_abook PRIVATE benchmark::benchmark)
target_compile_definitions(bench_abook PRIVATE TOBRINEL_BOOK_TOOL="$<TARGET_FILE:tobrinel-book>")
add_dependencies(bench_abook tobrinel-book)
