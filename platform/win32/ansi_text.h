// Narrow text of the module (paths, lists, names in the ANSI code page) for
// the wide calls the user sees.
#pragma once

#include <string>

namespace trv {

// With the thread's ANSI code page; empty for empty or unconvertible text.
std::wstring WidenAnsi(const std::string& text);

}  // namespace trv
