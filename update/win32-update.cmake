trv_add_control_sources(${CMAKE_SOURCE_DIR}/update/update_check_placeholder.cpp)
