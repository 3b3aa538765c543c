# A session bus and a GNOME Keyring of the test's own, for the desktop's secret store.
add_library(tobrinel_privatesession STATIC
  ${CMAKE_CURRENT_LIST_DIR}/PrivateSession.cpp ${CMAKE_CURRENT_LIST_DIR}/PrivateSession.h)
target_include_directories(tobrinel_privatesession PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tobrinel_privatesession PUBLIC tobrinel_secrets Qt6::Core PRIVATE qt6keychain)
