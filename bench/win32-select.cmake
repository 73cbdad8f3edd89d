# Selection benchmark: prints a ratio against a walk in the same run, asserts no timing.
add_executable(select_bench ${CMAKE_SOURCE_DIR}/bench/select_bench.cpp
  ${CMAKE_SOURCE_DIR}/tests/wine/select_resources.rc)
target_include_directories(select_bench PRIVATE ${CMAKE_SOURCE_DIR}/resources)
target_link_libraries(select_bench PRIVATE trv_select_wine_support)
trv_add_wine_test(NAME bench_select COMMAND $<TARGET_FILE:select_bench> TIMEOUT 600)

# Opening benchmark: the dialog opened on folders of 2,000, 20,000 and 200,000
# files against a bare list-view fill of the same entries in the same run.
add_executable(select_listing_bench ${CMAKE_SOURCE_DIR}/bench/select_listing_bench.cpp
  ${CMAKE_SOURCE_DIR}/tests/wine/select_resources.rc)
target_include_directories(select_listing_bench PRIVATE ${CMAKE_SOURCE_DIR}/resources)
target_link_libraries(select_listing_bench PRIVATE trv_select_wine_support)
add_test(NAME bench_select_listing
  COMMAND ${CMAKE_SOURCE_DIR}/bench/select-listing ${TRV_WINE} $<TARGET_FILE:select_listing_bench>)
set_tests_properties(bench_select_listing PROPERTIES FIXTURES_REQUIRED wine
  ENVIRONMENT "${TRV_WINE_ENV}" TIMEOUT 600 RUN_SERIAL TRUE)
