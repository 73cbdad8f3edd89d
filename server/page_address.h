// The addresses a browser host gives for the page an object sits on.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <string>
#include <vector>

namespace trv {

// From the object's site: the browser's LocationURL (Internet Explorer hands
// its browser out as the service SID_SWebBrowserApp) and the display name of
// the containing document's moniker. UTF-8; none when the site gives neither.
std::vector<std::string> PageAddresses(IUnknown* site);

}  // namespace trv
