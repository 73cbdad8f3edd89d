# TRVBridge.exe: the browser path's native-messaging host. It reaches the
# module only through COM (the registered class), never by linking its code.
set(TRV_BRIDGE_SOURCES
  ${CMAKE_SOURCE_DIR}/bridge/main.cpp
  ${CMAKE_SOURCE_DIR}/bridge/webbbs_client.cpp
  ${CMAKE_SOURCE_DIR}/platform/site_lock.cpp
  ${CMAKE_SOURCE_DIR}/platform/host_name.cpp
  ${CMAKE_SOURCE_DIR}/platform/win32/page_site.cpp
  ${CMAKE_SOURCE_DIR}/platform/win32/wide_text.cpp
  ${CMAKE_SOURCE_DIR}/bridge/TRVBridge.rc
  ${TRV_IDL_DIR}/server/WebControl_i.c
  ${TRV_IDL_DIR}/server/WebControl.h)
# The resource compiler must see the files the resources take in change.
set_source_files_properties(${CMAKE_SOURCE_DIR}/bridge/TRVBridge.rc PROPERTIES OBJECT_DEPENDS
  "${CMAKE_SOURCE_DIR}/bridge/TRVBridge.exe.manifest;${CMAKE_SOURCE_DIR}/resources/TRVControl.ico;${CMAKE_SOURCE_DIR}/resources/version.h")

# trv_add_bridge(TARGET DIR SITES): the host built into DIR serving SITES.
function(trv_add_bridge target dir sites)
  add_executable(${target} ${TRV_BRIDGE_SOURCES})
  string(REPLACE ";" "," sites "${sites}")
  target_compile_definitions(${target} PRIVATE
    "$<$<COMPILE_LANGUAGE:CXX>:TRV_BRIDGE_SITES=\"${sites}\">")
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR} ${TRV_IDL_DIR})
  target_link_libraries(${target} PRIVATE trv_bridge_core ole32 oleaut32 uuid urlmon user32
                        shell32 version advapi32)
  target_link_options(${target} PRIVATE -s)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME TRVBridge RUNTIME_OUTPUT_DIRECTORY ${dir})
endfunction()
trv_add_bridge(TRVBridge ${CMAKE_BINARY_DIR}/bridge "${TRV_BRIDGE_SITES_EFFECTIVE}")
