# The browser path end to end: Debian's chromium (playwright-core) and
# firefox-esr with the tree's extension and TRVBridge.exe in the test prefix.
find_program(TRV_E2E_NODE NAMES node nodejs)
if(TRV_E2E_NODE)
  foreach(browser chromium firefox first_run)
    add_test(NAME browser_${browser}
      COMMAND ${TRV_E2E_NODE} --test --test-concurrency=1 ${CMAKE_SOURCE_DIR}/tests/browser/${browser}_e2e.js)
    set_tests_properties(browser_${browser} PROPERTIES FIXTURES_REQUIRED wine
      ENVIRONMENT "${TRV_WINE_ENV}" TIMEOUT 300 RUN_SERIAL TRUE)
  endforeach()
endif()
