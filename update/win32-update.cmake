# The install/update dialog, its download callback and its system calls.
set(TRV_INSTALLER_MAX_BYTES 268435456 CACHE STRING
  "Largest installer download in bytes (1 to 4294967295); a bigger body fails the download, and the download ends one minute plus this at 64 KiB/s after its request")
if(NOT TRV_INSTALLER_MAX_BYTES MATCHES "^[1-9][0-9]*$" OR TRV_INSTALLER_MAX_BYTES GREATER 4294967295)
  message(FATAL_ERROR "TRV_INSTALLER_MAX_BYTES: a size in bytes from 1 to 4294967295, "
                      "not \"${TRV_INSTALLER_MAX_BYTES}\"")
endif()
# TRV_UPDATE_HOST is "host[:port]" (plain HTTP) or "http://" / "https://" and that.
if(NOT TRV_UPDATE_HOST MATCHES "^([Hh][Tt][Tt][Pp][Ss]?://)?[^/:]+(:[0-9]+)?/?$")
  message(FATAL_ERROR "TRV_UPDATE_HOST: host[:port] or http(s)://host[:port], "
                      "not \"${TRV_UPDATE_HOST}\"")
endif()
set(trv_dialog_source ${CMAKE_SOURCE_DIR}/update/file_update_window.cpp)
set_property(SOURCE ${trv_dialog_source} APPEND PROPERTY
  COMPILE_DEFINITIONS "TRV_INSTALLER_MAX_BYTES=${TRV_INSTALLER_MAX_BYTES}u")
trv_add_control_sources(
  ${trv_dialog_source}
  ${CMAKE_SOURCE_DIR}/update/ccallback.cpp
  ${CMAKE_SOURCE_DIR}/update/update_system_win32.cpp)
trv_add_control_libs(urlmon wininet bcrypt ntdll)
