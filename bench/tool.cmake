# The book tool: a whole `tobrinel-book dump` process, and the JSON it writes.
add_executable(bench_tool ${CMAKE_CURRENT_LIST_DIR}/bench_tool.cpp ${CMAKE_SOURCE_DIR}/src/tool/JsonLines.cpp)
target_include_directories(bench_tool PRIVATE ${CMAKE_SOURCE_DIR}/src/tool)
target_link_libraries(bench_tool PRIVATE tobrinel_store benchmark::benchmark)
target_compile_definitions(bench_tool PRIVATE TOBRINEL_BOOK_TOOL="$<TARGET_FILE:tobrinel-book>")
add_dependencies(bench_tool tobrinel-book)
