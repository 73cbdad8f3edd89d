# Shared helpers for every Wine test program.
add_library(trv_wine_support STATIC ${CMAKE_SOURCE_DIR}/tests/wine/support/wine_support.cpp)
target_include_directories(trv_wine_support PUBLIC ${CMAKE_SOURCE_DIR}/tests/wine ${CMAKE_SOURCE_DIR})
target_link_libraries(trv_wine_support PUBLIC shell32 user32 gdi32 kernel32)

add_executable(handoff_test ${CMAKE_SOURCE_DIR}/tests/wine/handoff_test.cpp)
target_link_libraries(handoff_test PRIVATE trv_control trv_client_common trv_testbed_log trv_wine_support gtest_main)
trv_add_wine_test(NAME wine_handoff COMMAND $<TARGET_FILE:handoff_test> TIMEOUT 240)
