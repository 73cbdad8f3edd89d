// Single-value registry reads and writes below one root key. Every operation
// reports failure by returning false and leaves nothing allocated.
#pragma once

#include <cstdint>
#include <string>

#include "platform/registry_platform.h"

namespace trv {

// One value on its way between CRegistry and the registry. The bytes live on
// a private heap that the operation creates for this value alone.
struct RegValue {
    RegValue(IRegistryApi& api, HeapRef heap) : api(api), heap(heap) {}
    ~RegValue() { FreeData(); }
    RegValue(const RegValue&) = delete;
    RegValue& operator=(const RegValue&) = delete;

    IRegistryApi& api;
    HeapRef heap;
    std::uint8_t* data = nullptr;
    std::uint32_t size = 0;
    std::uint32_t type = 0;

    void FreeData();
    // Replaces the data with size bytes (contents unset); false when the heap
    // cannot give them.
    bool Allocate(std::uint32_t bytes);
    // text nullptr is an empty string; the NUL is counted in size.
    bool SetText(const char* text, bool expand);
    // Only string types; the text ends at the first NUL or at the end of data.
    bool GetText(std::string& out) const;
};

bool SetValue(IRegistryApi& api, const char* subKey, const char* valueName,
              const RegValue& value, RegKey root);
bool QueryValue(IRegistryApi& api, const char* subKey, const char* valueName,
                RegValue& value, RegKey root);

class CRegistry {
public:
    CRegistry(IRegistryApi& api, RegKey root) : m_api(api), m_hKeyRoot(root) {}
    virtual ~CRegistry() = default;

    bool WriteDword(const char* subKey, const char* valueName, const std::uint32_t* pValue);
    bool WriteString(const char* subKey, const char* valueName, const char* text);
    // out is set only when a string-typed value was read.
    bool ReadString(const char* subKey, const char* valueName, std::string& out);
    // out is set only when a REG_DWORD of four bytes was read.
    bool ReadDword(const char* subKey, const char* valueName, std::uint32_t& out);

private:
    IRegistryApi& m_api;
    RegKey m_hKeyRoot;
};

}  // namespace trv
