// The addresses a browser host gives for the page an object sits on.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <optional>
#include <string>

namespace trv {

struct PageAddresses {
    // The display name of the moniker of the document that holds the object.
    std::optional<std::string> document;
    // The browser's LocationURL (Internet Explorer hands its browser out as
    // the service SID_SWebBrowserApp): the top-level page's address.
    std::optional<std::string> top;
    // What the document says its domain is (document.domain, through the
    // site's container): lower than its host once the page has set it.
    std::optional<std::string> domain;
};

// What the object's site tells of its page, in UTF-8.
PageAddresses PageAddressesOf(IUnknown* site);

}  // namespace trv
