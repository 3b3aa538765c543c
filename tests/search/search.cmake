# The engine alone, without a display; then the Find dialog and the main
# window's Find and Find Next, offscreen against the scripted platform.
add_executable(search_tests ${CMAKE_CURRENT_LIST_DIR}/DofindTest.cpp)
target_link_libraries(search_tests PRIVATE tobrinel_dofind GTest::gtest GTest::gtest_main)
include(GoogleTest)
gtest_discover_tests(search_tests DISCOVERY_TIMEOUT 60)

add_executable(tst_find ${CMAKE_CURRENT_LIST_DIR}/tst_find.cpp)
target_include_directories(tst_find PRIVATE ${CMAKE_SOURCE_DIR}/tests/main)
target_link_libraries(tst_find PRIVATE tobrinel_mainwin tobrinel_fakeplatform Qt6::Test)
add_test(NAME search.tst_find COMMAND tst_find)
set_tests_properties(search.tst_find PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 120)
