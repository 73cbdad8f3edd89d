# Page scenarios in JScript through Wine's script host against the registered
# control. The host ends with code 0 even on a script error, so the summary
# line decides.
function(trv_add_script_test script)
  trv_add_wine_test(NAME script_${script}
    COMMAND cscript //nologo "Z:${CMAKE_SOURCE_DIR}/tests/scripts/${script}.js" ${ARGN} TIMEOUT 180)
  set_tests_properties(script_${script} PROPERTIES
    PASS_REGULAR_EXPRESSION "[1-9][0-9]* passed, 0 failed"
    FAIL_REGULAR_EXPRESSION "FAILED")
endfunction()

trv_add_script_test(page_calls)

# The jobs reach the stand-in clients, which log what they received. They
# end on their own after two minutes should the script not close them.
set(TRV_SCRIPT_LOG "Z:${CMAKE_BINARY_DIR}/script_handoff.log")
trv_add_script_test(page_handoff "Z:${CMAKE_BINARY_DIR}/testbed" "${TRV_SCRIPT_LOG}")
set_property(TEST script_page_handoff APPEND PROPERTY ENVIRONMENT
  "TRV_TESTBED_LOG=${TRV_SCRIPT_LOG}" TRV_TESTBED_LIFETIME_MS=120000)
