// The browser's pop-up allow list: one REG_DWORD 0 per allowed site.
#pragma once

#include <string>

#include "platform/registry_platform.h"

namespace trv {

constexpr char kPopUpAllowKey[] = "Software\\Microsoft\\Internet Explorer\\New Windows\\Allow";

// Writes site (ANSI text) as a value of the allow list; an empty site is the
// key's default value. Anything but a host name (see IsHostName) writes
// nothing. Returns whether the value was written.
bool AllowPopUp(IRegistryApi& api, const std::string& site);

}  // namespace trv
