#include "platform/win32/registry_win32.h"

#include <windows.h>

namespace trv {

namespace {

HKEY AsKey(RegKey key) { return reinterpret_cast<HKEY>(key); }

}  // namespace

Win32Registry& SystemRegistry() {
    static Win32Registry registry;
    return registry;
}

long Win32Registry::CreateKey(RegKey root, const char* subKey, std::uint32_t access,
                              RegKey& key) {
    HKEY opened = nullptr;
    const LONG result = RegCreateKeyExA(AsKey(root), subKey, 0, nullptr, 0, access, nullptr,
                                        &opened, nullptr);
    key = reinterpret_cast<RegKey>(opened);
    return result;
}

long Win32Registry::OpenKey(RegKey root, const char* subKey, std::uint32_t access, RegKey& key) {
    HKEY opened = nullptr;
    const LONG result = RegOpenKeyExA(AsKey(root), subKey, 0, access, &opened);
    key = reinterpret_cast<RegKey>(opened);
    return result;
}

long Win32Registry::SetValue(RegKey key, const char* valueName, std::uint32_t type,
                             const std::uint8_t* data, std::uint32_t size) {
    return RegSetValueExA(AsKey(key), valueName, 0, type, data, size);
}

long Win32Registry::QueryValue(RegKey key, const char* valueName, std::uint32_t* type,
                               std::uint8_t* data, std::uint32_t* size) {
    DWORD t = 0;
    DWORD s = size ? *size : 0;
    const LONG result = RegQueryValueExA(AsKey(key), valueName, nullptr, &t, data, &s);
    if (type) *type = t;
    if (size) *size = s;
    return result;
}

void Win32Registry::CloseKey(RegKey key) { RegCloseKey(AsKey(key)); }

HeapRef Win32Registry::CreateHeap() { return reinterpret_cast<HeapRef>(HeapCreate(0, 0, 0)); }

void* Win32Registry::Alloc(HeapRef heap, std::uint32_t size) {
    return HeapAlloc(reinterpret_cast<HANDLE>(heap), 0, size);
}

void Win32Registry::Free(HeapRef heap, void* block) {
    HeapFree(reinterpret_cast<HANDLE>(heap), 0, block);
}

void Win32Registry::DestroyHeap(HeapRef heap) { HeapDestroy(reinterpret_cast<HANDLE>(heap)); }

}  // namespace trv
