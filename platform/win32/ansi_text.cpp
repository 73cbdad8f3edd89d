#include "platform/win32/ansi_text.h"

#include <windows.h>

namespace trv {

std::wstring WidenAnsi(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int length = static_cast<int>(text.size());
    const int count = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    if (count <= 0) return std::wstring();
    std::wstring wide(static_cast<std::size_t>(count), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), length, &wide[0], count);
    return wide;
}

}  // namespace trv
