# MinGW i686 build: the control DLL, the stand-ins, the Wine tests and benchmarks.

# Every subsystem adds its Win32 sources with trv_add_control_sources(); they form one
# library, trv_control, that the DLL and the Wine test programs link.
function(trv_add_control_sources)
  set_property(GLOBAL APPEND PROPERTY TRV_CONTROL_SOURCES ${ARGN})
endfunction()
function(trv_add_control_libs)
  set_property(GLOBAL APPEND PROPERTY TRV_CONTROL_LIBS ${ARGN})
endfunction()
file(GLOB TRV_PLATFORM_WIN32 CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/win32/*.cpp)
trv_add_control_sources(${TRV_PLATFORM_WIN32})
trv_add_control_libs(trv_core shell32 shlwapi user32 kernel32 advapi32 comctl32 ole32 oleaut32 uuid)

# GoogleTest for the Wine test programs.
set(GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(${GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# Wine runs every test program in one throwaway prefix under the build tree.
# An x86_64 tree runs under wine64 (for kernels that refuse 32-bit programs).
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(TRV_ARCH x86_64)
  set(TRV_WINEARCH win64)
else()
  set(TRV_ARCH i686)
  set(TRV_WINEARCH win32)
endif()
# Tests call Wine as ${TRV_WINE} <program> ...
set(TRV_WINE ${CMAKE_SOURCE_DIR}/scripts/wine-run ${TRV_ARCH})
set(TRV_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(TRV_WINE_ENV
  WINEPREFIX=${TRV_WINEPREFIX} WINEARCH=${TRV_WINEARCH} TRV_ARCH=${TRV_ARCH} WINEDEBUG=-all
  "WINEDLLOVERRIDES=mscoree,mshtml=" LANG=ko_KR.UTF-8 LC_ALL=ko_KR.UTF-8
  TRV_BUILD_DIR=${CMAKE_BINARY_DIR} TRV_SOURCE_DIR=${CMAKE_SOURCE_DIR})
add_test(NAME wine_prefix_setup
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/wineprefix setup ${TRV_WINEPREFIX} ${CMAKE_BINARY_DIR})
set_tests_properties(wine_prefix_setup PROPERTIES FIXTURES_SETUP wine
  ENVIRONMENT "${TRV_WINE_ENV}" TIMEOUT 300)
add_test(NAME wine_prefix_cleanup
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/wineprefix cleanup ${TRV_WINEPREFIX} ${CMAKE_BINARY_DIR})
set_tests_properties(wine_prefix_cleanup PROPERTIES FIXTURES_CLEANUP wine
  ENVIRONMENT "${TRV_WINE_ENV}" TIMEOUT 120)

# trv_add_wine_test(NAME <name> COMMAND <program> [args...] [TIMEOUT s])
# Scripts that need Wine themselves get TRV_ARCH and call scripts/wine-run.
function(trv_add_wine_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "COMMAND" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_test(NAME ${T_NAME} COMMAND ${TRV_WINE} ${T_COMMAND})
  set_tests_properties(${T_NAME} PROPERTIES FIXTURES_REQUIRED wine
    ENVIRONMENT "${TRV_WINE_ENV}" TIMEOUT ${T_TIMEOUT} RUN_SERIAL TRUE)
endfunction()

# Each folder brings its own win32*.cmake files (one per owner, so subsystems do not
# edit each other's build files).
foreach(folder server update select bridge browser testbed packaging tests/wine tests/scripts tests/browser bench tools docs)
  file(GLOB folder_files CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/win32*.cmake)
  list(SORT folder_files)
  foreach(f ${folder_files})
    include(${f})
  endforeach()
endforeach()

get_property(TRV_CONTROL_SOURCES GLOBAL PROPERTY TRV_CONTROL_SOURCES)
get_property(TRV_CONTROL_LIBS GLOBAL PROPERTY TRV_CONTROL_LIBS)
add_library(trv_control STATIC ${TRV_CONTROL_SOURCES})
target_link_libraries(trv_control PUBLIC ${TRV_CONTROL_LIBS})
trv_product_code(trv_control)
