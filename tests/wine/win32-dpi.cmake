# Both dialogs at 96 and 144 DPI; the install/update dialog's download is trickled by the stand-in server.
add_executable(dpi_layout_test ${CMAKE_SOURCE_DIR}/tests/wine/dpi_layout_test.cpp ${CMAKE_SOURCE_DIR}/resources/TRVControl.rc)
target_include_directories(dpi_layout_test PRIVATE ${CMAKE_SOURCE_DIR}/resources)
target_link_libraries(dpi_layout_test PRIVATE trv_select_wine_support trv_wine_support gtest_main gdi32)
add_dependencies(dpi_layout_test trv_setup)
if(TRV_UPDATE_PORT)
  trv_add_wine_test(NAME wine_dpi_layout COMMAND $<TARGET_FILE:dpi_layout_test> TIMEOUT 300)
  set_tests_properties(wine_dpi_layout PROPERTIES FIXTURES_REQUIRED "wine;update_server")
endif()
