# What faces the network in a sync: the DAV XML reader, the sync state
# reader and CardPatch, built here from their sources with the sanitizers on.
find_package(Qt6 REQUIRED COMPONENTS Core)
add_library(tobrinel_fuzz_sync STATIC
  ${CMAKE_SOURCE_DIR}/src/sync/DavXml.cpp ${CMAKE_SOURCE_DIR}/src/sync/SyncState.cpp
  ${CMAKE_SOURCE_DIR}/src/sync/SyncFields.cpp ${CMAKE_SOURCE_DIR}/src/sync/CardPatch.cpp)
target_include_directories(tobrinel_fuzz_sync PUBLIC ${CMAKE_SOURCE_DIR}/src/sync)
target_link_libraries(tobrinel_fuzz_sync PUBLIC tobrinel_store Qt6::Core)
target_compile_options(tobrinel_fuzz_sync PRIVATE -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all)
foreach(harness fuzz_davxml fuzz_syncstate fuzz_cardpatch)
  target_link_libraries(${harness} PRIVATE tobrinel_fuzz_sync)
endforeach()
# The answer read in pieces, as the DAV XML tests read it.
target_include_directories(fuzz_davxml PRIVATE ${CMAKE_SOURCE_DIR}/tests/sync)
