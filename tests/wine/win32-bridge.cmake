# The native host under Wine, spoken to over its framed standard input and
# output, against the module registered in the test prefix. A second build
# serves two sites, so a page of one cannot borrow the other's host.
trv_add_bridge(TRVBridgeTwoSites ${CMAKE_BINARY_DIR}/test-modules/bridge-two-sites
               "http://127.0.0.1:18088;http://localhost:18089")
add_test(NAME bridge_sessions
  COMMAND ${CMAKE_SOURCE_DIR}/tests/bridge/bridge-session
          ${CMAKE_BINARY_DIR}/bridge/TRVBridge.exe
          ${CMAKE_BINARY_DIR}/test-modules/bridge-two-sites/TRVBridge.exe)
set_tests_properties(bridge_sessions PROPERTIES
  FIXTURES_REQUIRED wine ENVIRONMENT "${TRV_WINE_ENV}" TIMEOUT 300 RUN_SERIAL TRUE)

# The host started as a browser starts it: which window owns its dialogs, and when.
add_executable(bridge_owner_test ${CMAKE_SOURCE_DIR}/tests/wine/bridge_owner_test.cpp)
target_link_libraries(bridge_owner_test PRIVATE trv_wine_support gtest_main)
add_dependencies(bridge_owner_test TRVBridge trv_client_up trv_client_down trv_client_explorer)
trv_add_wine_test(NAME bridge_owner COMMAND $<TARGET_FILE:bridge_owner_test> TIMEOUT 240)
