// The raw registry and private-heap calls CRegistry is built on.
// Win32 maps them one to one onto advapi32 and kernel32; the fake keeps keys
// and heaps in memory and counts what is still allocated.
#pragma once

#include <cstdint>

namespace trv {

// An open key or predefined root (an HKEY under Windows); 0 means none.
using RegKey = std::uintptr_t;
// A private heap (a HANDLE under Windows); 0 means none.
using HeapRef = std::uintptr_t;

constexpr RegKey kHKeyCurrentUser = 0x80000001u;

constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegExpandSz = 2;
constexpr std::uint32_t kRegDword = 4;
constexpr std::uint32_t kRegLink = 6;

constexpr std::uint32_t kKeyWrite = 0x20006;
constexpr std::uint32_t kKeyRead = 0x20019;

class IRegistryApi {
public:
    virtual ~IRegistryApi() = default;

    // Each returns a Win32 error code: 0 on success.
    // valueName nullptr (or "") is the key's default value.
    virtual long CreateKey(RegKey root, const char* subKey, std::uint32_t access,
                           RegKey& key) = 0;
    virtual long OpenKey(RegKey root, const char* subKey, std::uint32_t access,
                         RegKey& key) = 0;
    virtual long SetValue(RegKey key, const char* valueName, std::uint32_t type,
                          const std::uint8_t* data, std::uint32_t size) = 0;
    // data nullptr asks for type and size only; otherwise *size is the
    // buffer's size on entry and the value's size on return.
    virtual long QueryValue(RegKey key, const char* valueName, std::uint32_t* type,
                            std::uint8_t* data, std::uint32_t* size) = 0;
    virtual void CloseKey(RegKey key) = 0;

    virtual HeapRef CreateHeap() = 0;
    virtual void* Alloc(HeapRef heap, std::uint32_t size) = 0;  // nullptr on failure
    virtual void Free(HeapRef heap, void* block) = 0;
    virtual void DestroyHeap(HeapRef heap) = 0;
};

}  // namespace trv
