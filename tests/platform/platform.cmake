add_executable(tst_platform ${CMAKE_CURRENT_LIST_DIR}/tst_platform.cpp)
target_link_libraries(tst_platform PRIVATE tobrinel_platform tobrinel_fakeplatform Qt6::Test)
add_test(NAME platform.tst_platform COMMAND tst_platform)
set_tests_properties(platform.tst_platform PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 60)
