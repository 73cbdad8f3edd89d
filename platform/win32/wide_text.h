// Text between the module's narrow strings and the wide ones of COM and the
// user interface: paths, lists and names in the ANSI code page; what the
// browser path and the page's address carry in UTF-8.
#pragma once

#include <cstddef>
#include <string>

namespace trv {

// With the thread's ANSI code page; empty for empty or unconvertible text.
std::wstring WidenAnsi(const std::string& text);
// Empty for empty or unconvertible text.
std::wstring WidenUtf8(const std::string& text);
// The whole text, NULs included; an unpaired surrogate becomes U+FFFD, so
// the result is always UTF-8.
std::string NarrowUtf8(const wchar_t* text, std::size_t length);

}  // namespace trv
