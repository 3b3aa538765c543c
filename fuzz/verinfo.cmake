# The version reader is standard C++ and is fuzzed with the store.
target_sources(fuzz_verinfo PRIVATE ${CMAKE_SOURCE_DIR}/src/shell/Verinfo.cpp)
target_include_directories(fuzz_verinfo PRIVATE ${CMAKE_SOURCE_DIR}/src/shell)
