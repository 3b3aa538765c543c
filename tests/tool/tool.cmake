# Every *Test.cpp here is a GoogleTest file of the book tool, run as a program.
file(GLOB TOOL_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*Test.cpp)
add_executable(tool_tests ${TOOL_TEST_SOURCES})
target_include_directories(tool_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/store)
target_link_libraries(tool_tests PRIVATE tobrinel_store GTest::gtest GTest::gtest_main)
target_compile_definitions(tool_tests PRIVATE TOBRINEL_BOOK_TOOL="$<TARGET_FILE:tobrinel-book>")
add_dependencies(tool_tests tobrinel-book)
include(GoogleTest)
gtest_discover_tests(tool_tests DISCOVERY_TIMEOUT 60)
