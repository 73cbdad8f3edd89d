# The page host: runs a page's scripts with its objects and their events.
add_executable(pagehost
  ${CMAKE_SOURCE_DIR}/tools/pagehost/pagehost.cpp
  ${CMAKE_SOURCE_DIR}/tools/pagehost/html_page.cpp
  ${CMAKE_SOURCE_DIR}/tools/pagehost/page_document.cpp
  ${CMAKE_SOURCE_DIR}/platform/win32/page_site.cpp
  ${CMAKE_SOURCE_DIR}/platform/win32/wide_text.cpp)
target_include_directories(pagehost PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(pagehost PRIVATE ole32 oleaut32 uuid urlmon user32 shell32)
set_target_properties(pagehost PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
target_link_options(pagehost PRIVATE -municode)

# A page whose script fails names the file and line and exits non-zero.
add_test(NAME pagehost_syntax_error
  COMMAND ${CMAKE_SOURCE_DIR}/tests/pagehost/check-page 1
          ${CMAKE_SOURCE_DIR}/tests/pagehost/syntax-error.html --
          "^syntax-error\\.html\\(4,[0-9]+\\): script error: ")
add_test(NAME pagehost_runtime_error
  COMMAND ${CMAKE_SOURCE_DIR}/tests/pagehost/check-page 1
          ${CMAKE_SOURCE_DIR}/tests/pagehost/runtime-error.html --
          "^alert: one$" "^runtime-error\\.html\\(5,[0-9]+\\): script error: ")
set_tests_properties(pagehost_syntax_error pagehost_runtime_error PROPERTIES
  FIXTURES_REQUIRED wine ENVIRONMENT "${TRV_WINE_ENV}" TIMEOUT 120 RUN_SERIAL TRUE)

# The sample page with the registered control: its event handler fires and
# the page counts it (jobs and dialogs are left to the demo).
add_test(NAME pagehost_sample_page
  COMMAND ${CMAKE_SOURCE_DIR}/tests/pagehost/check-page 0
          ${CMAKE_SOURCE_DIR}/docs/sample-page.html --trace --call Summary --
          "^event: WebBBS\\.InstallCompleteEvent\\(\\)$" "^alert: event InstallCompleteEvent$"
          "^alert: summary: InstallCompleteEvent=1 UpSelectComplete=0$")
set_tests_properties(pagehost_sample_page PROPERTIES
  FIXTURES_REQUIRED wine ENVIRONMENT "${TRV_WINE_ENV}" TIMEOUT 120 RUN_SERIAL TRUE)
