# Stands in for the user in unattended demo runs.
add_executable(dialog_driver ${CMAKE_SOURCE_DIR}/testbed/dialog_driver.cpp)
target_link_libraries(dialog_driver PRIVATE user32 gdi32 comctl32)
target_link_options(dialog_driver PRIVATE -municode)
set_target_properties(dialog_driver PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/testbed)
