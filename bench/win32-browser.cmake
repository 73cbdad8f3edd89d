# Browser benchmark: the page's calls through the real host against an echo
# host in the same browser and run; prints ratios only, asserts no timing.
add_test(NAME bench_browser COMMAND ${CMAKE_SOURCE_DIR}/bench/browser-bench)
set_tests_properties(bench_browser PROPERTIES FIXTURES_REQUIRED wine
  ENVIRONMENT "${TRV_WINE_ENV}" TIMEOUT 600 RUN_SERIAL TRUE)
