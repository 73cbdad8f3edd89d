# Portable part of the install/update check.
target_sources(trv_core PRIVATE ${CMAKE_SOURCE_DIR}/update/update_flow.cpp)
