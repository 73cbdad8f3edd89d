# The COM server's portable logic: registrar scripts (sink slots and safety
# options are header-only).
target_sources(trv_core PRIVATE ${CMAKE_SOURCE_DIR}/server/registrar.cpp)
