# The registered control driven through COM: interfaces, dispatch, events,
# module lifetime, and the methods with the stand-in clients.
add_library(trv_com_support STATIC
  ${CMAKE_SOURCE_DIR}/tests/wine/com_support.cpp
  ${CMAKE_SOURCE_DIR}/tests/wine/registry_dump.cpp
  ${TRV_IDL_DIR}/server/WebControl_i.c)
target_include_directories(trv_com_support PUBLIC ${CMAKE_SOURCE_DIR}/tests/wine ${CMAKE_SOURCE_DIR}
                           ${TRV_IDL_DIR})
target_link_libraries(trv_com_support PUBLIC ole32 oleaut32 uuid user32)
add_dependencies(trv_com_support TRVControl)

add_executable(com_client_test ${CMAKE_SOURCE_DIR}/tests/wine/com_client_test.cpp)
target_link_libraries(com_client_test PRIVATE
  trv_com_support trv_wine_support trv_testbed_log gtest_main shell32 user32)
add_dependencies(com_client_test trv_client_up trv_client_down trv_client_explorer)
trv_add_wine_test(NAME com_client COMMAND $<TARGET_FILE:com_client_test> --gtest_filter=-ComModal.*
  TIMEOUT 300)
# A page dropping the object inside the install/update dialog: the dialog
# needs the stand-in update server, switched down.
if(TRV_UPDATE_PORT)
  trv_add_wine_test(NAME com_client_modal
    COMMAND $<TARGET_FILE:com_client_test> --gtest_filter=ComModal.* TIMEOUT 180)
  set_tests_properties(com_client_modal PROPERTIES FIXTURES_REQUIRED "wine;update_server")
endif()

# Registration content, quoting of the module path, the path limit, resources.
# The module without its TYPELIB resource: registration must fall back on the
# .tlb beside it, or fail after the scripts when there is none.
trv_add_control_module(TRVControlNoTlb ${CMAKE_BINARY_DIR}/test-modules/no-typelib)
target_compile_definitions(TRVControlNoTlb PRIVATE TRV_WITHOUT_TYPELIB_RESOURCE)
add_executable(com_registration_test ${CMAKE_SOURCE_DIR}/tests/wine/com_registration_test.cpp
  ${CMAKE_SOURCE_DIR}/server/categories.cpp)
target_link_libraries(com_registration_test PRIVATE
  trv_com_support trv_wine_support gtest_main shell32 shlwapi version)
add_dependencies(com_registration_test TRVControlNoTlb)
trv_add_wine_test(NAME com_registration COMMAND $<TARGET_FILE:com_registration_test> TIMEOUT 300)

# 100,000 random Invoke calls: no crash, no hang, module unloadable afterwards.
add_executable(com_random_invoke ${CMAKE_SOURCE_DIR}/tests/wine/com_random_invoke.cpp)
target_link_libraries(com_random_invoke PRIVATE trv_com_support trv_wine_support gtest_main shell32 user32)
add_dependencies(com_random_invoke trv_client_down)
trv_add_wine_test(NAME com_random_invoke COMMAND $<TARGET_FILE:com_random_invoke> TIMEOUT 600)
