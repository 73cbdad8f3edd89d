trv_add_control_sources(${CMAKE_SOURCE_DIR}/select/upload_select.cpp)
