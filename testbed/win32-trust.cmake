# Puts the signing test rig's root into the Wine prefix's Root store (and out).
add_executable(trust_root ${CMAKE_SOURCE_DIR}/testbed/trust_root.cpp)
target_link_libraries(trust_root PRIVATE crypt32)
set_target_properties(trust_root PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/testbed)
