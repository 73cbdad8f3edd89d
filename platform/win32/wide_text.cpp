#include "platform/win32/wide_text.h"

#include <windows.h>

namespace trv {

namespace {

std::wstring Widen(const std::string& text, UINT codePage) {
    if (text.empty()) return std::wstring();
    const int length = static_cast<int>(text.size());
    const int count = MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
    if (count <= 0) return std::wstring();
    std::wstring wide(static_cast<std::size_t>(count), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), length, &wide[0], count);
    return wide;
}

}  // namespace

std::wstring WidenAnsi(const std::string& text) { return Widen(text, CP_ACP); }

std::wstring WidenUtf8(const std::string& text) { return Widen(text, CP_UTF8); }

std::string NarrowUtf8(const wchar_t* text, std::size_t length) {
    if (!text || length == 0) return std::string();
    const int wide = static_cast<int>(length);
    const int count = WideCharToMultiByte(CP_UTF8, 0, text, wide, nullptr, 0, nullptr, nullptr);
    if (count <= 0) return std::string();
    std::string out(static_cast<std::size_t>(count), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, wide, &out[0], count, nullptr, nullptr);
    return out;
}

}  // namespace trv
