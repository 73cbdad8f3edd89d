target_sources(trv_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/popup.cpp)
