# Stand-in installer and update server. The installer is built straight into
# the folder the stand-in server serves, as /client/setup.exe.
set(TRV_UPDATE_ROOT ${CMAKE_BINARY_DIR}/update-server)
add_executable(trv_setup WIN32 ${CMAKE_SOURCE_DIR}/testbed/installer.cpp)
target_compile_definitions(trv_setup PRIVATE
  TRV_TESTBED_UNIX_DIR="${CMAKE_BINARY_DIR}/testbed"
  TRV_UPDATE_ROOT_UNIX_DIR="${TRV_UPDATE_ROOT}")
target_link_libraries(trv_setup PRIVATE shell32 kernel32)
set_target_properties(trv_setup PROPERTIES
  OUTPUT_NAME setup
  RUNTIME_OUTPUT_DIRECTORY ${TRV_UPDATE_ROOT}/client)
# Test builds pin the signing rig's publisher: the served installer carries its signature.
trv_sign_for_tests(trv_setup)

# The server's port comes from the update host the build points at.
if(TRV_UPDATE_HOST MATCHES "^(http://)?127\\.0\\.0\\.1:([0-9]+)/?$")
  set(TRV_UPDATE_PORT ${CMAKE_MATCH_2})
else()
  set(TRV_UPDATE_PORT "")
endif()
if(TRV_UPDATE_PORT)
  # With the signing rig it also serves TLS (a port of its own, in tls_port).
  set(trv_tls_args "")
  if(TRV_TRUST_RIG_DIR)
    set(trv_tls_args --tls-dir ${TRV_TRUST_RIG_DIR}/tls)
  endif()
  add_test(NAME update_server_start
    COMMAND python3 ${CMAKE_SOURCE_DIR}/testbed/update_server.py start
            --dir ${TRV_UPDATE_ROOT} --port ${TRV_UPDATE_PORT} ${trv_tls_args})
  set_tests_properties(update_server_start PROPERTIES FIXTURES_SETUP update_server TIMEOUT 30)
  add_test(NAME update_server_stop
    COMMAND python3 ${CMAKE_SOURCE_DIR}/testbed/update_server.py stop --dir ${TRV_UPDATE_ROOT})
  set_tests_properties(update_server_stop PROPERTIES FIXTURES_CLEANUP update_server TIMEOUT 30)
endif()
