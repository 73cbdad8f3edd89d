# The native host's portable part: framing and messages. The host links it;
# the module does not.
add_library(trv_bridge_core STATIC
  ${CMAKE_SOURCE_DIR}/bridge/framing.cpp
  ${CMAKE_SOURCE_DIR}/bridge/json.cpp
  ${CMAKE_SOURCE_DIR}/bridge/protocol.cpp)
target_include_directories(trv_bridge_core PUBLIC ${CMAKE_SOURCE_DIR})
