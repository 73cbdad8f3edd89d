# The stand-in client programs, driven under Wine.
add_executable(testbed_clients_test ${CMAKE_SOURCE_DIR}/tests/wine/testbed_clients_test.cpp)
target_link_libraries(testbed_clients_test PRIVATE trv_testbed_log trv_core gtest_main shell32 user32)
add_dependencies(testbed_clients_test trv_client_up trv_client_down trv_client_explorer)
trv_add_wine_test(NAME testbed_clients COMMAND $<TARGET_FILE:testbed_clients_test> TIMEOUT 180)
