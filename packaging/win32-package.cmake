# The shipped artefacts of this tree's architecture, made by
# packaging/make-package into <build>/package/: the signed module, the
# cabinet for the page's object tag (TRVControl.cab, TRVControl-x64.cab) with
# its INF, the MSI for managed installs (TRVControl.msi, TRVControl-x64.msi;
# with the browsers' native host), the object tag and the extension's store
# zips. Target trv_package.
#
# Signing: the certificate and key from TRV_SIGNING_CERT and TRV_SIGNING_KEY;
# without them a test build (TRV_TEST_SIGNING) signs with the signing rig's
# publisher. With neither, trv_package refuses and is left out of the build.
set(TRV_SIGNING_CERT "" CACHE FILEPATH
  "Code-signing certificate for the packages (PEM; the chain to the root may follow in the file)")
set(TRV_SIGNING_KEY "" CACHE FILEPATH "The signing certificate's private key (PEM)")
set(TRV_SIGNING_PASSWORD_FILE "" CACHE FILEPATH "A file holding the signing key's password, if it has one")
set(TRV_SIGNING_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamp server for the packages' signatures")

if(TRV_SIGNING_CERT OR TRV_SIGNING_KEY)
  if(NOT TRV_SIGNING_CERT OR NOT TRV_SIGNING_KEY)
    message(FATAL_ERROR "TRV_SIGNING_CERT and TRV_SIGNING_KEY go together")
  endif()
  set(TRV_PACKAGE_SIGNING --cert ${TRV_SIGNING_CERT} --key ${TRV_SIGNING_KEY})
  if(TRV_SIGNING_PASSWORD_FILE)
    list(APPEND TRV_PACKAGE_SIGNING --pass-file ${TRV_SIGNING_PASSWORD_FILE})
  endif()
elseif(TRV_TRUST_RIG_DIR)
  set(TRV_PACKAGE_SIGNING --cert ${TRV_TRUST_RIG_DIR}/keys/publisher.crt
      --cert ${TRV_TRUST_RIG_DIR}/keys/root.crt --key ${TRV_TRUST_RIG_DIR}/keys/publisher.key)
else()
  set(TRV_PACKAGE_SIGNING "")
endif()
if(TRV_PACKAGE_SIGNING AND TRV_SIGNING_TIMESTAMP_URL)
  list(APPEND TRV_PACKAGE_SIGNING --timestamp ${TRV_SIGNING_TIMESTAMP_URL})
endif()

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(TRV_PACKAGE_ARCH x64)
  set(TRV_PACKAGE_NAME TRVControl-x64)
  set(TRV_BRIDGE_USER_PACKAGE TRVBridge-x64-user)
else()
  set(TRV_PACKAGE_ARCH x86)
  set(TRV_PACKAGE_NAME TRVControl)
  set(TRV_BRIDGE_USER_PACKAGE TRVBridge-user)
endif()

# package_tool runs on the build machine, so the build machine's compiler
# makes it, from the same registrar the module registers with.
find_program(TRV_HOST_CXX NAMES c++ g++ REQUIRED)
set(TRV_PACKAGE_TOOL ${CMAKE_BINARY_DIR}/host-tools/package_tool)
set(trv_tool_sources
  ${CMAKE_SOURCE_DIR}/packaging/package_tool.cpp
  ${CMAKE_SOURCE_DIR}/packaging/build_facts.cpp
  ${CMAKE_SOURCE_DIR}/packaging/msi_registry.cpp
  ${CMAKE_SOURCE_DIR}/server/registrar.cpp)
add_custom_command(OUTPUT ${TRV_PACKAGE_TOOL}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/host-tools
  COMMAND ${TRV_HOST_CXX} -std=c++17 -O1 -Wall -Wextra -I${CMAKE_SOURCE_DIR}
          -o ${TRV_PACKAGE_TOOL} ${trv_tool_sources}
  DEPENDS ${trv_tool_sources} ${CMAKE_SOURCE_DIR}/packaging/build_facts.h
          ${CMAKE_SOURCE_DIR}/packaging/msi_registry.h ${CMAKE_SOURCE_DIR}/server/registrar.h
  COMMENT "Packaging tool (for the build machine)"
  VERBATIM)

# trv_add_package(<target> <dir> <module target>): the artefacts of a module
# of this tree into <dir>. Tests package an older module the same way.
function(trv_add_package target dir module)
  set(outputs ${dir}/TRVControl.DLL ${dir}/${TRV_PACKAGE_NAME}.cab ${dir}/${TRV_PACKAGE_NAME}.msi
      ${dir}/${TRV_PACKAGE_NAME}-object.html ${dir}/TRVWebControl-chrome.zip
      ${dir}/TRVWebControl-firefox.zip ${dir}/${TRV_BRIDGE_USER_PACKAGE}.msi)
  add_custom_command(OUTPUT ${outputs}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${CMAKE_SOURCE_DIR}/packaging/make-package --out ${dir} --arch ${TRV_PACKAGE_ARCH}
            --name ${TRV_PACKAGE_NAME} --module $<TARGET_FILE:${module}>
            --tlb ${TRV_IDL_DIR}/WebControl.tlb --tool ${TRV_PACKAGE_TOOL}
            --source ${CMAKE_SOURCE_DIR} --bridge $<TARGET_FILE:TRVBridge>
            --browser ${TRV_BROWSER_DIR} --host-name ${TRV_NATIVE_HOST_NAME} ${TRV_PACKAGE_SIGNING}
    DEPENDS ${module} ${TRV_PACKAGE_TOOL} ${TRV_IDL_DIR}/WebControl.tlb TRVBridge
            ${TRV_BROWSER_DIR}/stamp
            ${CMAKE_SOURCE_DIR}/packaging/make-package ${CMAKE_SOURCE_DIR}/packaging/TRVControl.wxs
            ${CMAKE_SOURCE_DIR}/packaging/TRVBridge-user.wxs
            ${CMAKE_SOURCE_DIR}/packaging/TRVControl.inf.in ${CMAKE_SOURCE_DIR}/server/module.h
            ${CMAKE_SOURCE_DIR}/resources/webcontrol_app.rgs ${CMAKE_SOURCE_DIR}/resources/webbbs.rgs
    COMMENT "Packages of ${module} in ${dir}"
    VERBATIM)
  if(TRV_PACKAGE_SIGNING)
    add_custom_target(${target} ALL DEPENDS ${outputs})
  else()
    # Built on request only, where make-package says why it refuses.
    add_custom_target(${target} DEPENDS ${outputs})
  endif()
endfunction()

trv_add_package(trv_package ${CMAKE_BINARY_DIR}/package TRVControl)
