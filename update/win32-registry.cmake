trv_add_control_sources(${CMAKE_SOURCE_DIR}/update/popup_win32.cpp)
