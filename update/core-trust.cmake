# The installer signature check's pin list and decisions.
target_sources(trv_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/installer_trust.cpp)
