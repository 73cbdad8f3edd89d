# Page scenarios in JScript through Wine's script host against the registered
# control. The host ends with code 0 even on a script error, so the summary
# line decides.
foreach(script page_calls)
  trv_add_wine_test(NAME script_${script}
    COMMAND cscript //nologo "Z:${CMAKE_SOURCE_DIR}/tests/scripts/${script}.js" TIMEOUT 120)
  set_tests_properties(script_${script} PROPERTIES
    PASS_REGULAR_EXPRESSION "[1-9][0-9]* passed, 0 failed"
    FAIL_REGULAR_EXPRESSION "FAILED")
endforeach()
