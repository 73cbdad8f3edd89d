# TRVControl.DLL: the in-process COM server.

# Type library and C++ header from the IDL. widl stores help strings as raw
# bytes that oleaut32 reads in the ANSI code page, so the Korean ones go in as
# code page 949.
# An x86_64 tree (for machines that cannot run 32-bit Wine) builds the same
# library for Win64.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(TRV_WIDL x86_64-w64-mingw32-widl -m64 -L/usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
else()
  set(TRV_WIDL i686-w64-mingw32-widl -m32 -L/usr/lib/i386-linux-gnu/wine/i386-windows)
endif()
set(TRV_IDL_DIR ${CMAKE_BINARY_DIR}/idl)
file(MAKE_DIRECTORY ${TRV_IDL_DIR})
add_custom_command(
  OUTPUT ${TRV_IDL_DIR}/WebControl.tlb ${TRV_IDL_DIR}/server/WebControl.h
         ${TRV_IDL_DIR}/server/WebControl_i.c
  COMMAND ${CMAKE_COMMAND} -E make_directory ${TRV_IDL_DIR}/server
  COMMAND iconv -f UTF-8 -t CP949 ${CMAKE_SOURCE_DIR}/server/WebControl.idl
          -o ${TRV_IDL_DIR}/WebControl.idl
  COMMAND ${TRV_WIDL} -I/usr/include/wine/wine/windows
          -t -T ${TRV_IDL_DIR}/WebControl.tlb
          -h -H ${TRV_IDL_DIR}/server/WebControl.h
          -u -U ${TRV_IDL_DIR}/server/WebControl_i.c
          ${TRV_IDL_DIR}/WebControl.idl
  COMMAND ${CMAKE_COMMAND} -DTLB=${TRV_IDL_DIR}/WebControl.tlb
          -DIDL=${CMAKE_SOURCE_DIR}/server/WebControl.idl -P ${CMAKE_SOURCE_DIR}/server/check_tlb.cmake
  DEPENDS ${CMAKE_SOURCE_DIR}/server/WebControl.idl ${CMAKE_SOURCE_DIR}/server/check_tlb.cmake
  COMMENT "Type library WebControlLib from WebControl.idl"
  VERBATIM)
# Other subsystems reach the object through IWebBBS: the header and the GUIDs go
# into trv_control, which everything links.
trv_add_control_sources(${TRV_IDL_DIR}/server/WebControl.h ${TRV_IDL_DIR}/server/WebControl_i.c)
include_directories(${TRV_IDL_DIR})

set(TRV_SERVER_SOURCES
  ${CMAKE_SOURCE_DIR}/server/module.cpp
  ${CMAKE_SOURCE_DIR}/server/class_factory.cpp
  ${CMAKE_SOURCE_DIR}/server/webbbs_object.cpp
  ${CMAKE_SOURCE_DIR}/server/registration.cpp
  ${CMAKE_SOURCE_DIR}/server/categories.cpp
  ${CMAKE_SOURCE_DIR}/server/page_address.cpp
  ${CMAKE_SOURCE_DIR}/server/lean_runtime.cpp
  ${CMAKE_SOURCE_DIR}/server/TRVControl.def
  ${CMAKE_SOURCE_DIR}/resources/TRVControl.rc
  ${TRV_IDL_DIR}/server/WebControl.h
  ${TRV_IDL_DIR}/WebControl.tlb)

# trv_set_allowed_sites(TARGET LIST): the module answers only pages on LIST.
# The list's ';' would split a definition, so ',' separates the entries there.
function(trv_set_allowed_sites target sites)
  if(sites)
    string(REPLACE ";" "," sites "${sites}")
    target_compile_definitions(${target} PRIVATE
      "$<$<COMPILE_LANGUAGE:CXX>:TRV_ALLOWED_SITES=\"${sites}\">")
  endif()
endfunction()

# trv_add_control_module(TARGET DIR): the in-process server built into DIR as
# TRVControl.DLL. Tests build variants of it the same way.
function(trv_add_control_module target dir)
  add_library(${target} SHARED ${TRV_SERVER_SOURCES})
  target_include_directories(${target} PRIVATE ${TRV_IDL_DIR} ${CMAKE_SOURCE_DIR}/resources)
  target_link_libraries(${target} PRIVATE trv_control)
  trv_product_code(${target})
  target_link_options(${target} PRIVATE -s)
  if(NOT CMAKE_SIZEOF_VOID_P EQUAL 8)
    # i686 binds each export to its decorated stdcall function (see the .def).
    get_target_property(sources ${target} SOURCES)
    list(TRANSFORM sources REPLACE "/TRVControl\\.def$" "/TRVControl-i686.def")
    set_property(TARGET ${target} PROPERTY SOURCES ${sources})
    target_link_options(${target} PRIVATE -Wl,--enable-stdcall-fixup)
  endif()
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME "TRVControl" PREFIX "" SUFFIX ".DLL"
    RUNTIME_OUTPUT_DIRECTORY ${dir}
    LIBRARY_OUTPUT_DIRECTORY ${dir}
    ARCHIVE_OUTPUT_DIRECTORY ${dir}/lib)
endfunction()
trv_add_control_module(TRVControl ${CMAKE_BINARY_DIR})
# The pages allowed to drive the object, for the service's release builds
# ("https://*.tarvosk.co.kr;https://files.tarvosk.co.kr:8443"). Empty: no lock.
trv_set_allowed_sites(TRVControl "${TRV_ALLOWED_SITES}")
# The resource compiler must see the script and type-library files change.
set_source_files_properties(${CMAKE_SOURCE_DIR}/resources/TRVControl.rc PROPERTIES
  OBJECT_DEPENDS "${TRV_IDL_DIR}/WebControl.tlb;${CMAKE_SOURCE_DIR}/resources/webbbs.rgs;${CMAKE_SOURCE_DIR}/resources/webcontrol_app.rgs;${CMAKE_SOURCE_DIR}/resources/module.rc;${CMAKE_SOURCE_DIR}/resources/version.h;${CMAKE_SOURCE_DIR}/resources/TRVControl.manifest;${CMAKE_SOURCE_DIR}/resources/update.rc")

# C++ consumers of the control get the header beside the DLL.
add_custom_command(TARGET TRVControl POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${TRV_IDL_DIR}/server/WebControl.h
          ${TRV_IDL_DIR}/server/WebControl_i.c ${CMAKE_BINARY_DIR}
  VERBATIM)
