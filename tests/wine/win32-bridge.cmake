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
