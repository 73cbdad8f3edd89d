# The installer signature check and the publisher pins it trusts.
set(TRV_INSTALLER_PINS "" CACHE STRING
  "SHA-256 hashes (64 hex digits) of the installer publisher's public key or certificate, separated by ';', ',' or blanks")
option(TRV_TEST_SIGNING
  "With no TRV_INSTALLER_PINS: make the offline signing test rig and pin its publisher" OFF)

set(trv_pins "${TRV_INSTALLER_PINS}")
# Other subsystems' tests use the rig only when this build pins it.
set(TRV_TRUST_RIG_DIR "")
if(trv_pins STREQUAL "" AND TRV_TEST_SIGNING)
  set(TRV_TRUST_RIG_DIR ${CMAKE_BINARY_DIR}/test-signing)
  # Made once per build tree and kept, so the pin (and the build) stays put.
  execute_process(
    COMMAND ${CMAKE_SOURCE_DIR}/testbed/make-test-signing keys ${TRV_TRUST_RIG_DIR}
    OUTPUT_VARIABLE trv_pins ERROR_VARIABLE trv_rig_error RESULT_VARIABLE trv_rig_result
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT trv_rig_result EQUAL 0)
    message(FATAL_ERROR "TRV_TEST_SIGNING: the signing test rig could not be made "
                        "(openssl and osslsigncode installed?): ${trv_rig_error}")
  endif()
  message(STATUS "Installer pin: the test rig's publisher ${trv_pins}")
  # And a TLS certificate for the stand-in update server, from the same root.
  execute_process(
    COMMAND ${CMAKE_SOURCE_DIR}/testbed/make-test-signing tls ${TRV_TRUST_RIG_DIR}
    ERROR_VARIABLE trv_rig_error RESULT_VARIABLE trv_rig_result)
  if(NOT trv_rig_result EQUAL 0)
    message(FATAL_ERROR "TRV_TEST_SIGNING: the TLS certificates could not be made: ${trv_rig_error}")
  endif()
  if(CMAKE_BUILD_TYPE STREQUAL "Release")
    message(WARNING "TRV_TEST_SIGNING pins a test key whose private key lies in the build tree: "
                    "never ship this build.")
  endif()
endif()

# Bad entries stop the configuration here (and the compiler checks again).
string(REGEX REPLACE "[;, \t\r\n]+" ";" trv_pin_list "${trv_pins}")
list(REMOVE_ITEM trv_pin_list "")
foreach(pin IN LISTS trv_pin_list)
  string(LENGTH "${pin}" pin_length)
  if(NOT pin MATCHES "^[0-9A-Fa-f]+$" OR NOT pin_length EQUAL 64)
    message(FATAL_ERROR "TRV_INSTALLER_PINS: not a SHA-256 hex hash: \"${pin}\"")
  endif()
endforeach()
if(NOT trv_pin_list AND CMAKE_BUILD_TYPE STREQUAL "Release")
  message(WARNING "TRV_INSTALLER_PINS is empty: this build refuses every installer, "
                  "so the control cannot install or update the client suite.")
endif()
list(JOIN trv_pin_list "," trv_pins_joined)

set(trv_trust_source ${CMAKE_SOURCE_DIR}/update/installer_trust_win32.cpp)
# Only this file sees the pins, so changing them rebuilds only it.
set_property(SOURCE ${trv_trust_source} APPEND PROPERTY
  COMPILE_DEFINITIONS "TRV_INSTALLER_PINS=\"${trv_pins_joined}\"")
trv_add_control_sources(${trv_trust_source})
trv_add_control_libs(wintrust crypt32 advapi32)

# trv_sign_for_tests(<target>): in a build that pins the test rig, the
# target's program is signed as the rig's publisher after every link (for
# the stand-in installer the dialog tests serve).
function(trv_sign_for_tests target)
  if(TRV_TRUST_RIG_DIR)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_SOURCE_DIR}/testbed/make-test-signing sign-in-place ${TRV_TRUST_RIG_DIR}
              $<TARGET_FILE:${target}>
      VERBATIM)
  endif()
endfunction()
