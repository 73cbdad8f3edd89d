// The control's registration as the registry holds it, dumped for
// comparisons: by the registration tests and the installer packages' tests.
#pragma once

#include <windows.h>

#include <map>
#include <string>

namespace trv::comtest {

extern const wchar_t kClsid[];
extern const wchar_t kLibid[];
extern const wchar_t kIid[];
extern const wchar_t kDiid[];
extern const wchar_t kAppId[];

// Every key and value below HKCR\path: "key\sub" -> "" for keys,
// "key\sub|name" -> data for values ("@" is the default value).
using Dump = std::map<std::wstring, std::wstring>;

Dump DumpOf(const std::wstring& path);
bool KeyExists(const std::wstring& path);
std::wstring ClassKey();
// Everything registration owns, as one dump.
Dump RegisteredContent();

}  // namespace trv::comtest
