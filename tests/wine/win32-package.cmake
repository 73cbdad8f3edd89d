# The packages: inspected as files (all an i686 tree can do where 32-bit Wine
# cannot run), and installed under Wine, each kind in a fresh prefix of its
# own (tests/wine/in-fresh-prefix).
if(NOT TRV_PACKAGE_SIGNING OR NOT TRV_TRUST_RIG_DIR)
  return()  # the tests check the signing rig's signatures
endif()

# An older module and its packages, to upgrade from.
trv_add_control_module(TRVControlOlder ${CMAKE_BINARY_DIR}/test-modules/older)
target_compile_definitions(TRVControlOlder PRIVATE TRV_TEST_OLDER_VERSION)
trv_add_package(trv_package_older ${CMAKE_BINARY_DIR}/test-packages/older TRVControlOlder)

add_test(NAME package_contents COMMAND ${CMAKE_SOURCE_DIR}/packaging/check-package
         ${CMAKE_BINARY_DIR}/package ${TRV_PACKAGE_ARCH} ${TRV_PACKAGE_NAME} ${TRV_PACKAGE_TOOL}
         ${TRV_TRUST_RIG_DIR}/keys/root.crt ${CMAKE_BINARY_DIR}/test-packages/older
         "${TRV_BROWSER_SITES}" ${TRV_NATIVE_HOST_NAME})
set_tests_properties(package_contents PROPERTIES LABELS static TIMEOUT 120)
add_test(NAME package_release_gate COMMAND ${CMAKE_SOURCE_DIR}/tests/scripts/package-release-gate)
set_tests_properties(package_release_gate PROPERTIES LABELS static TIMEOUT 60)

add_library(trv_package_support STATIC ${CMAKE_SOURCE_DIR}/tests/wine/package_support.cpp)
target_link_libraries(trv_package_support PUBLIC trv_com_support trv_wine_support gtest shell32 version)

add_executable(package_msi_test ${CMAKE_SOURCE_DIR}/tests/wine/package_msi_test.cpp)
target_link_libraries(package_msi_test PRIVATE trv_package_support gtest_main msi)
# A page of the tree's list, for the host's call ("*." stands for "www.").
string(REPLACE "," ";" trv_first_site "${TRV_BRIDGE_SITES_EFFECTIVE}")
list(GET trv_first_site 0 trv_first_site)
string(STRIP "${trv_first_site}" trv_first_site)
string(REPLACE "*." "www." trv_first_site "${trv_first_site}")
string(REGEX REPLACE "/$" "" trv_first_site "${trv_first_site}")
target_compile_definitions(package_msi_test PRIVATE TRV_TEST_PAGE="${trv_first_site}/"
  TRV_HOST_NAME="${TRV_NATIVE_HOST_NAME}")
add_executable(package_cab_test ${CMAKE_SOURCE_DIR}/tests/wine/package_cab_test.cpp)
target_link_libraries(package_cab_test PRIVATE trv_package_support trv_control gtest_main setupapi)

foreach(kind msi cab)
  set(run ${CMAKE_SOURCE_DIR}/tests/wine/in-fresh-prefix ${CMAKE_BINARY_DIR}/package-${kind}-prefix)
  if(kind STREQUAL cab)
    list(APPEND run --trust $<TARGET_FILE:trust_root> Z:${TRV_TRUST_RIG_DIR}/keys/root.der)
  endif()
  add_test(NAME package_${kind} COMMAND ${run} $<TARGET_FILE:package_${kind}_test>)
  set_tests_properties(package_${kind} PROPERTIES ENVIRONMENT "${TRV_WINE_ENV}" TIMEOUT 600
                       RUN_SERIAL TRUE)
endforeach()
