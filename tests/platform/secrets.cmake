# The desktop's secret store where there is none, with and without a session
# bus, and with a GNOME Keyring on a bus of the test's own.
add_executable(secret_store_test ${CMAKE_CURRENT_LIST_DIR}/SecretStoreTest.cpp)
target_link_libraries(secret_store_test PRIVATE tobrinel_secrets tobrinel_privatesession Qt6::Core GTest::gtest)
add_test(NAME platform.secret_store.no_bus COMMAND secret_store_test no-bus)
add_test(NAME platform.secret_store.bus COMMAND secret_store_test bus)
add_test(NAME platform.secret_store.keyring COMMAND secret_store_test keyring)
set_tests_properties(platform.secret_store.no_bus platform.secret_store.bus platform.secret_store.keyring
                     PROPERTIES TIMEOUT 60)
