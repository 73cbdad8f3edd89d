# The install/update check's portable core.
target_sources(trv_core PRIVATE ${CMAKE_SOURCE_DIR}/update/update_flow.cpp)
