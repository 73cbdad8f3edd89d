# Selection benchmark: prints a ratio against a walk in the same run, asserts no timing.
add_executable(select_bench ${CMAKE_SOURCE_DIR}/bench/select_bench.cpp
  ${CMAKE_SOURCE_DIR}/tests/wine/select_resources.rc)
target_include_directories(select_bench PRIVATE ${CMAKE_SOURCE_DIR}/resources)
target_link_libraries(select_bench PRIVATE trv_select_wine_support)
trv_add_wine_test(NAME bench_select COMMAND $<TARGET_FILE:select_bench> TIMEOUT 600)
