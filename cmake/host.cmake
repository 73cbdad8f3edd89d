# Native build: the portable core and its unit tests against the fake platform.

set(GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

file(GLOB TRV_FAKE_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/fake/*.cpp)
add_library(trv_fake STATIC ${TRV_FAKE_SOURCES})
target_link_libraries(trv_fake PUBLIC trv_core)

file(GLOB TRV_UNIT_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*.cpp)
add_executable(unit_tests ${TRV_UNIT_TESTS} ${CMAKE_SOURCE_DIR}/tools/pagehost/html_page.cpp
  ${CMAKE_SOURCE_DIR}/testbed/job_reader.cpp ${CMAKE_SOURCE_DIR}/packaging/msi_registry.cpp
  ${CMAKE_SOURCE_DIR}/packaging/build_facts.cpp)
target_link_libraries(unit_tests PRIVATE trv_fake trv_bridge_core gtest_main)
include(GoogleTest)
gtest_discover_tests(unit_tests DISCOVERY_TIMEOUT 60)
