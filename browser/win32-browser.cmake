# The browser extension (Chrome/Edge unpacked, Firefox unpacked and .xpi) and
# the native host's manifests, generated from the one site list into
# ${CMAKE_BINARY_DIR}/browser whenever the list or a source changes.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
file(GLOB TRV_BROWSER_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/browser/extension/*)
set(TRV_BROWSER_DIR ${CMAKE_BINARY_DIR}/browser)
# ',' separates as ';' does, and does not split a CMake list. The inputs file
# changes only with the settings, so a new list re-runs the generator.
string(REPLACE ";" "," TRV_BROWSER_SITES "${TRV_BRIDGE_SITES_EFFECTIVE}")
# The extension carries the module's version record.
set(TRV_VERSION_H ${CMAKE_SOURCE_DIR}/resources/version.h)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${TRV_VERSION_H})
# The last definition is the release's (the one before is a test build's older module).
file(STRINGS ${TRV_VERSION_H} TRV_VERSION_LINE REGEX "^#define TRV_VERSION_TEXT ")
list(GET TRV_VERSION_LINE -1 TRV_VERSION_LINE)
string(REGEX REPLACE "^#define TRV_VERSION_TEXT \"([0-9.]+)\".*" "\\1" TRV_EXTENSION_VERSION
       "${TRV_VERSION_LINE}")
set(TRV_BROWSER_INPUTS ${CMAKE_BINARY_DIR}/browser-inputs.txt)
file(CONFIGURE OUTPUT ${TRV_BROWSER_INPUTS}
  CONTENT "${TRV_BROWSER_SITES}\n${TRV_NATIVE_HOST_NAME}\n${TRV_FIREFOX_ADDON_ID}\n${TRV_EXTENSION_VERSION}\n")
add_custom_command(
  OUTPUT ${TRV_BROWSER_DIR}/stamp
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/browser/make-extension
          "--sites=${TRV_BROWSER_SITES}" --out ${TRV_BROWSER_DIR}
          --host-name ${TRV_NATIVE_HOST_NAME} --addon-id ${TRV_FIREFOX_ADDON_ID}
          --version ${TRV_EXTENSION_VERSION}
  COMMAND ${CMAKE_COMMAND} -E touch ${TRV_BROWSER_DIR}/stamp
  DEPENDS ${CMAKE_SOURCE_DIR}/browser/make-extension ${TRV_BROWSER_SOURCES} ${TRV_BROWSER_INPUTS}
  COMMENT "Browser extension and host manifests for ${TRV_BROWSER_SITES}"
  VERBATIM)
add_custom_target(browser_extension ALL DEPENDS ${TRV_BROWSER_DIR}/stamp)

# The page script's npm package (browser/page) with the module's version,
# for scripts/package to ship beside the extension.
find_program(TRV_NPM NAMES npm)
if(TRV_NPM)
  file(GLOB TRV_PAGE_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/browser/page/*)
  add_custom_command(
    OUTPUT ${TRV_BROWSER_DIR}/npm/stamp
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${TRV_BROWSER_DIR}/npm
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/browser/make-page-package
            --version ${TRV_EXTENSION_VERSION} --out ${TRV_BROWSER_DIR}/npm
    COMMAND ${CMAKE_COMMAND} -E touch ${TRV_BROWSER_DIR}/npm/stamp
    DEPENDS ${CMAKE_SOURCE_DIR}/browser/make-page-package ${TRV_PAGE_SOURCES} ${TRV_BROWSER_INPUTS}
    COMMENT "The page script's npm package"
    VERBATIM)
  add_custom_target(browser_page_package ALL DEPENDS ${TRV_BROWSER_DIR}/npm/stamp)
endif()

# The extension's site rule against the native host's, its background against
# a stand-in browser, the content script and the page script against a
# stand-in page (no Wine, no browser).
find_program(TRV_NODE NAMES node nodejs)
if(TRV_NODE)
  add_test(NAME browser_scripts
    COMMAND ${TRV_NODE} --test ${CMAKE_SOURCE_DIR}/tests/browser/site_rule.test.js
            ${CMAKE_SOURCE_DIR}/tests/browser/background.test.js
            ${CMAKE_SOURCE_DIR}/tests/browser/content.test.js
            ${CMAKE_SOURCE_DIR}/tests/browser/page_script.test.js)
  # A short TypeScript page against the package's declarations, with the
  # typescript that scripts/setup installed from scripts/package-lock.json.
  add_test(NAME browser_page_types
    COMMAND ${TRV_NODE} ${CMAKE_SOURCE_DIR}/scripts/node_modules/typescript/bin/tsc
            -p ${CMAKE_SOURCE_DIR}/tests/browser/types/tsconfig.json)
endif()
