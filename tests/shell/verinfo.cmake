# The version reader on files it writes itself and on the built program.
tobrinel_version_items()
add_executable(verinfo_tests ${CMAKE_CURRENT_LIST_DIR}/VerinfoTest.cpp ${CMAKE_CURRENT_LIST_DIR}/ElfBuilder.h)
target_link_libraries(verinfo_tests PRIVATE tobrinel_verinfo GTest::gtest GTest::gtest_main)
target_compile_definitions(verinfo_tests PRIVATE
  TOBRINEL_EXE="$<TARGET_FILE:tobrinel>"
  TOBRINEL_FILE_VERSION="${TOBRINEL_FILE_VERSION}"
  TOBRINEL_PRODUCT_VERSION="${PROJECT_VERSION}"
  TOBRINEL_COPYRIGHT="${TOBRINEL_COPYRIGHT}")
add_dependencies(verinfo_tests tobrinel)
include(GoogleTest)
gtest_discover_tests(verinfo_tests DISCOVERY_TIMEOUT 60)
