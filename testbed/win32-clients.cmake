# Stand-ins for the service's client programs: one source, three programs.
# Other folders start them from ${CMAKE_BINARY_DIR}/testbed (targets trv_client_up,
# trv_client_down, trv_client_explorer) and read their log with trv_testbed_log.

add_library(trv_testbed_log STATIC ${CMAKE_SOURCE_DIR}/testbed/testbed_log.cpp)
target_include_directories(trv_testbed_log PUBLIC ${CMAKE_SOURCE_DIR})

add_library(trv_client_common STATIC
  ${CMAKE_SOURCE_DIR}/testbed/job_reader.cpp
  ${CMAKE_SOURCE_DIR}/testbed/client_args.cpp
  ${CMAKE_SOURCE_DIR}/testbed/client_log.cpp)
target_link_libraries(trv_client_common PUBLIC trv_core kernel32)

foreach(client "up;TARVOSKUp;TRV_CLIENT_UPLOAD"
               "down;TARVOSKDown;TRV_CLIENT_DOWNLOAD"
               "explorer;Explorer;TRV_CLIENT_EXPLORER")
  list(GET client 0 id)
  list(GET client 1 name)
  list(GET client 2 define)
  add_executable(trv_client_${id} WIN32 ${CMAKE_SOURCE_DIR}/testbed/client.cpp)
  target_compile_definitions(trv_client_${id} PRIVATE ${define})
  target_link_libraries(trv_client_${id} PRIVATE trv_client_common user32)
  set_target_properties(trv_client_${id} PROPERTIES
    OUTPUT_NAME ${name}
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/testbed)
endforeach()
