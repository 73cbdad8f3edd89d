# The install/update dialog, its download callback and its system calls.
trv_add_control_sources(
  ${CMAKE_SOURCE_DIR}/update/file_update_window.cpp
  ${CMAKE_SOURCE_DIR}/update/ccallback.cpp
  ${CMAKE_SOURCE_DIR}/update/update_system_win32.cpp)
trv_add_control_libs(urlmon wininet)
