trv_add_control_sources(${CMAKE_SOURCE_DIR}/select/upload_select.cpp)
# What the selection dialog's resource script includes: windres lists none of
# it, so the scripts that include it must name it.
file(GLOB TRV_SELECT_PICTURES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/resources/*.bmp)
set_property(SOURCE ${CMAKE_SOURCE_DIR}/resources/TRVControl.rc ${CMAKE_SOURCE_DIR}/tests/wine/select_resources.rc
  APPEND PROPERTY OBJECT_DEPENDS ${CMAKE_SOURCE_DIR}/resources/select.rc ${CMAKE_SOURCE_DIR}/resources/resource.h
  ${CMAKE_SOURCE_DIR}/select/select_ids.h ${TRV_SELECT_PICTURES})
