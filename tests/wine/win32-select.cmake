# The selection dialog under Wine: a real Korean folder tree, the dialog
# driven from a second thread, and a screenshot of it.
add_library(trv_select_wine_support STATIC ${CMAKE_SOURCE_DIR}/tests/wine/select_support.cpp)
target_include_directories(trv_select_wine_support PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests/wine)
target_link_libraries(trv_select_wine_support PUBLIC trv_control)

add_executable(select_dialog_test
  ${CMAKE_SOURCE_DIR}/tests/wine/select_dialog_test.cpp
  ${CMAKE_SOURCE_DIR}/tests/wine/select_resources.rc)
target_include_directories(select_dialog_test PRIVATE ${CMAKE_SOURCE_DIR}/resources)
target_link_libraries(select_dialog_test PRIVATE trv_select_wine_support trv_wine_support trv_com_support gtest_main)
trv_add_wine_test(NAME wine_select_dialog COMMAND $<TARGET_FILE:select_dialog_test> TIMEOUT 300)

# The screenshot the program saved, as PNG for the README.
add_test(NAME select_screenshot_png
  COMMAND convert ${CMAKE_BINARY_DIR}/artifacts/select-dialog.bmp ${CMAKE_BINARY_DIR}/artifacts/select-dialog.png)
set_tests_properties(select_screenshot_png PROPERTIES DEPENDS wine_select_dialog)
