# The install/update dialog under Wine with the stand-in server and installer.
add_executable(update_dialog_test
  ${CMAKE_SOURCE_DIR}/tests/wine/update_dialog_test.cpp
  ${CMAKE_SOURCE_DIR}/resources/TRVControl.rc)
target_include_directories(update_dialog_test PRIVATE ${CMAKE_SOURCE_DIR}/resources)
target_link_libraries(update_dialog_test PRIVATE
  trv_control trv_testbed_log trv_wine_support gtest_main gdi32)
add_dependencies(update_dialog_test trv_setup trv_client_up trv_client_down trv_client_explorer)

if(TRV_UPDATE_PORT)
  trv_add_wine_test(NAME wine_update_dialog
    COMMAND $<TARGET_FILE:update_dialog_test> --gtest_filter=-*Screenshot* TIMEOUT 400)
  set_tests_properties(wine_update_dialog PROPERTIES FIXTURES_REQUIRED "wine;update_server;trust_rig")
  # The screenshot taken mid-download: fails on its own when Wine's virtual
  # desktop is not up (no frame, no caption on the screen).
  trv_add_wine_test(NAME wine_update_screenshot
    COMMAND $<TARGET_FILE:update_dialog_test> --gtest_filter=*Screenshot* TIMEOUT 120)
  set_tests_properties(wine_update_screenshot PROPERTIES FIXTURES_REQUIRED "wine;update_server;trust_rig")
  add_test(NAME update_dialog_screenshot
    COMMAND convert ${CMAKE_BINARY_DIR}/artifacts/update-dialog.bmp
            ${CMAKE_BINARY_DIR}/artifacts/update-dialog.png)
  set_tests_properties(update_dialog_screenshot PROPERTIES DEPENDS wine_update_screenshot
    REQUIRED_FILES ${CMAKE_BINARY_DIR}/artifacts/update-dialog.bmp TIMEOUT 60)
endif()
