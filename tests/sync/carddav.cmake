# The CardDAV client against a real Radicale started for each test, and
# against a small fake server for what Radicale cannot show. Label "sync":
# ctest -L sync runs these alone.
find_package(Qt6 REQUIRED COMPONENTS Network)
add_library(tobrinel_davservers STATIC
  ${CMAKE_CURRENT_LIST_DIR}/RadicaleServer.cpp ${CMAKE_CURRENT_LIST_DIR}/RadicaleServer.h
  ${CMAKE_CURRENT_LIST_DIR}/FakeDavServer.cpp ${CMAKE_CURRENT_LIST_DIR}/FakeDavServer.h)
target_include_directories(tobrinel_davservers PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tobrinel_davservers PUBLIC Qt6::Core Qt6::Network)

add_executable(carddav_tests
  ${CMAKE_CURRENT_LIST_DIR}/DavXmlTest.cpp ${CMAKE_CURRENT_LIST_DIR}/Trickle.h
  ${CMAKE_CURRENT_LIST_DIR}/CardDavFakeTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CardDavRadicaleTest.cpp ${CMAKE_CURRENT_LIST_DIR}/ErrorOf.h
  ${CMAKE_CURRENT_LIST_DIR}/SyncTestMain.cpp)
target_link_libraries(carddav_tests PRIVATE tobrinel_carddav tobrinel_davservers GTest::gtest)
include(GoogleTest)
gtest_discover_tests(carddav_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS sync TIMEOUT 120)
