// The page's document as an object reaches it from its site
// (IOleClientSite::GetContainer): an IOleContainer that answers
// IHTMLDocument2, of which only the domain is given (what document.domain
// says); every other member is not implemented.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <string>

namespace trv {

// A new document (reference count 1) whose domain is `domain`, or nullptr
// when out of memory.
IOleContainer* NewPageDocument(const std::wstring& domain);

}  // namespace trv
