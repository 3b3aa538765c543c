# Whole syncs through tobrinel-book against a local Radicale, beside
# vdirsyncer, and the peak memory of a sync of 10,000 cards.
if(TARGET tobrinel_syncsession AND TARGET tobrinel_davservers AND TARGET tobrinel-book-sync)
  add_executable(bench_sync_session ${CMAKE_CURRENT_LIST_DIR}/bench_sync_session.cpp)
  target_link_libraries(bench_sync_session PRIVATE tobrinel_syncsession tobrinel_davservers benchmark::benchmark)
  target_compile_definitions(bench_sync_session PRIVATE TOBRINEL_BOOK_TOOL="$<TARGET_FILE:tobrinel-book>")
  add_dependencies(bench_sync_session tobrinel-book tobrinel-book-sync)
endif()
