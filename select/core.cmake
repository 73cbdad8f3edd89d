target_sources(trv_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/browse_model.cpp
  ${CMAKE_CURRENT_LIST_DIR}/selection.cpp)
