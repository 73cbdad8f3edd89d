# Dispatch benchmark: prints ratios only, asserts no timing.
add_executable(dispatch_bench ${CMAKE_SOURCE_DIR}/bench/dispatch_bench.cpp)
target_link_libraries(dispatch_bench PRIVATE trv_com_support)
trv_add_wine_test(NAME bench_dispatch COMMAND $<TARGET_FILE:dispatch_bench> TIMEOUT 300)
