# The CardDAV client: Qt Core and Network, no windows, so it is tested
# against a real server without a display.
find_package(Qt6 REQUIRED COMPONENTS Network)
add_library(tobrinel_carddav STATIC
  ${CMAKE_CURRENT_LIST_DIR}/DavXml.cpp ${CMAKE_CURRENT_LIST_DIR}/DavXml.h
  ${CMAKE_CURRENT_LIST_DIR}/CardDav.cpp ${CMAKE_CURRENT_LIST_DIR}/CardDav.h)
target_include_directories(tobrinel_carddav PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tobrinel_carddav PUBLIC Qt6::Core Qt6::Network)
