// A site for IObjectWithSite::SetSite that places an object on a page at a
// given address, the way the browser does: its service SID_SWebBrowserApp
// hands out a browser whose LocationURL is the address, and its container
// moniker is a URL moniker for it. The page host and the browser path's
// native host site the control with it.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <optional>
#include <string>

namespace trv {

// A new site (reference count 1) on `url`, or nullptr when out of memory.
IOleClientSite* NewPageSite(const std::wstring& url);
// The same for an object in a frame: the browser's address is `top`, the
// frame's document is at `document`, and none gives a site without a
// container moniker. `container`, when given, is what GetContainer hands
// out (the page's document); without it the site has none.
IOleClientSite* NewPageSite(const std::wstring& top, const std::optional<std::wstring>& document,
                            IOleContainer* container = nullptr);

}  // namespace trv
