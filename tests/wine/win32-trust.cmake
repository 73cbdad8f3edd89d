# The installer signature check on the signing rig's files, under Wine.
add_executable(trust_verify_test ${CMAKE_SOURCE_DIR}/tests/wine/trust_verify_test.cpp)
target_link_libraries(trust_verify_test PRIVATE trv_control trv_wine_support gtest_main crypt32 ole32)

if(TRV_TRUST_RIG_DIR)
  # Fixture trust_rig: the signed files, and the rig's root trusted in the
  # prefix for as long as tests that need it run.
  add_test(NAME trust_rig_sign
    COMMAND ${CMAKE_SOURCE_DIR}/testbed/make-test-signing sign ${TRV_TRUST_RIG_DIR}
            $<TARGET_FILE:trust_root>)
  set_tests_properties(trust_rig_sign PROPERTIES FIXTURES_SETUP trust_rig TIMEOUT 120)
  # The same variants of the stand-in installer, for the dialog's tests to serve.
  if(TARGET trv_setup)
    add_test(NAME trust_rig_sign_installer
      COMMAND ${CMAKE_SOURCE_DIR}/testbed/make-test-signing sign ${TRV_TRUST_RIG_DIR}
              $<TARGET_FILE:trv_setup> ${TRV_TRUST_RIG_DIR}/installer)
    set_tests_properties(trust_rig_sign_installer PROPERTIES FIXTURES_SETUP trust_rig TIMEOUT 120)
  endif()
  add_test(NAME trust_rig_root_add
    COMMAND ${TRV_WINE} $<TARGET_FILE:trust_root> add Z:${TRV_TRUST_RIG_DIR}/keys/root.der)
  add_test(NAME trust_rig_root_remove
    COMMAND ${TRV_WINE} $<TARGET_FILE:trust_root> remove Z:${TRV_TRUST_RIG_DIR}/keys/root.der)
  set_tests_properties(trust_rig_root_add PROPERTIES FIXTURES_SETUP trust_rig)
  set_tests_properties(trust_rig_root_remove PROPERTIES FIXTURES_CLEANUP trust_rig)
  set_tests_properties(trust_rig_root_add trust_rig_root_remove PROPERTIES
    FIXTURES_REQUIRED wine ENVIRONMENT "${TRV_WINE_ENV}" TIMEOUT 120 RUN_SERIAL TRUE)

  trv_add_wine_test(NAME wine_trust_verify COMMAND $<TARGET_FILE:trust_verify_test> TIMEOUT 240)
  set_tests_properties(wine_trust_verify PROPERTIES FIXTURES_REQUIRED "wine;trust_rig")
endif()
