# The install/update dialog and its download callback.
trv_add_control_sources(
  ${CMAKE_SOURCE_DIR}/update/file_update_window.cpp
  ${CMAKE_SOURCE_DIR}/update/ccallback.cpp)
trv_add_control_libs(urlmon wininet)
