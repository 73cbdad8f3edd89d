#include "registry_dump.h"

namespace trv::comtest {

const wchar_t kClsid[] = L"{B679444B-C4D3-47D8-94B6-A31C1DAE6668}";
const wchar_t kLibid[] = L"{6C612995-A994-4723-8877-8B831861243B}";
const wchar_t kIid[] = L"{B375E18E-FE4A-428C-AC4E-3F73E94D2260}";
const wchar_t kDiid[] = L"{C0CA1522-CE44-43C6-8ECC-132079D3E4B1}";
const wchar_t kAppId[] = L"{B5C98172-8387-4C09-B1D7-B01043CAF98A}";

namespace {

void DumpKey(HKEY parent, const std::wstring& path, const std::wstring& shown, Dump& out) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    out[shown] = L"";
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256;
        BYTE data[2048];
        DWORD dataSize = sizeof data;
        DWORD type = 0;
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data, &dataSize) !=
            ERROR_SUCCESS)
            break;
        std::wstring text;
        if (type == REG_SZ || type == REG_EXPAND_SZ)
            text.assign(reinterpret_cast<const wchar_t*>(data), dataSize / sizeof(wchar_t));
        else if (type == REG_DWORD)
            text = L"dword:" + std::to_wstring(*reinterpret_cast<const DWORD*>(data));
        while (!text.empty() && text.back() == L'\0') text.pop_back();
        out[shown + L"|" + (nameLength ? std::wstring(name) : L"@")] = text;
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256;
        if (RegEnumKeyExW(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        DumpKey(key, name, shown + L"\\" + name, out);
    }
    RegCloseKey(key);
}

}  // namespace

Dump DumpOf(const std::wstring& path) {
    Dump out;
    DumpKey(HKEY_CLASSES_ROOT, path, path, out);
    return out;
}

bool KeyExists(const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

std::wstring ClassKey() { return std::wstring(L"CLSID\\") + kClsid; }

Dump RegisteredContent() {
    Dump all;
    for (const std::wstring& path :
         {std::wstring(L"AppID\\") + kAppId, std::wstring(L"AppID\\TRVControl.DLL"),
          std::wstring(L"WebControl.TARVOSK.1"), std::wstring(L"WebControl.TARVOSK"), ClassKey(),
          std::wstring(L"TypeLib\\") + kLibid, std::wstring(L"Interface\\") + kIid,
          std::wstring(L"Interface\\") + kDiid}) {
        const Dump part = DumpOf(path);
        all.insert(part.begin(), part.end());
    }
    return all;
}

}  // namespace trv::comtest
