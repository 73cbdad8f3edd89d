# The shipped i686 module end to end in one program, run by scripts/i686-smoke in
# its own 32-bit prefix (under qemu where the kernel refuses 32-bit programs).
# scripts/test runs it with `ctest -L i686-smoke`.
if(NOT CMAKE_SIZEOF_VOID_P EQUAL 8)
  add_executable(module_smoke ${CMAKE_SOURCE_DIR}/tests/wine/module_smoke.cpp)
  target_link_libraries(module_smoke PRIVATE
    trv_com_support trv_wine_support trv_testbed_log shell32 user32 ole32 oleaut32)
  add_dependencies(module_smoke TRVControl trv_client_up trv_client_down trv_client_explorer)
  add_test(NAME i686_smoke COMMAND ${CMAKE_SOURCE_DIR}/scripts/i686-smoke ${CMAKE_BINARY_DIR})
  set_tests_properties(i686_smoke PROPERTIES LABELS i686-smoke TIMEOUT 1800 RUN_SERIAL TRUE)
endif()
