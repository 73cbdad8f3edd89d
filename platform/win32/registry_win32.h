// The registry seam over advapi32 and the process's private heaps.
#pragma once

#include "platform/registry_platform.h"

namespace trv {

class Win32Registry : public IRegistryApi {
public:
    long CreateKey(RegKey root, const char* subKey, std::uint32_t access, RegKey& key) override;
    long OpenKey(RegKey root, const char* subKey, std::uint32_t access, RegKey& key) override;
    long SetValue(RegKey key, const char* valueName, std::uint32_t type,
                  const std::uint8_t* data, std::uint32_t size) override;
    long QueryValue(RegKey key, const char* valueName, std::uint32_t* type, std::uint8_t* data,
                    std::uint32_t* size) override;
    void CloseKey(RegKey key) override;
    HeapRef CreateHeap() override;
    void* Alloc(HeapRef heap, std::uint32_t size) override;
    void Free(HeapRef heap, void* block) override;
    void DestroyHeap(HeapRef heap) override;
};

// Stateless; one instance serves the whole module.
Win32Registry& SystemRegistry();

}  // namespace trv
