// An in-memory registry with private heaps that count their live blocks, so
// tests can see both what was stored and that nothing was left allocated.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/registry_platform.h"

namespace trv {

class FakeRegistry : public IRegistryApi {
public:
    struct Value {
        std::uint32_t type = 0;
        std::vector<std::uint8_t> bytes;
    };
    // Key paths are "<root>\<subkey>" compared without case, as Windows does;
    // value names likewise, "" being the default value.
    using Key = std::map<std::string, Value>;

    // Settings
    bool createFails = false;
    bool setFails = false;
    bool heapFails = false;
    int valueGrowsOnRead = 0;  // bytes a value grows between the size and the read

    // Helpers for tests
    void Put(RegKey root, const std::string& subKey, const std::string& name, std::uint32_t type,
             const std::vector<std::uint8_t>& bytes);
    void PutString(RegKey root, const std::string& subKey, const std::string& name,
                   const std::string& text);  // REG_SZ with its NUL
    const Value* Find(RegKey root, const std::string& subKey, const std::string& name) const;
    bool HasKey(RegKey root, const std::string& subKey) const;

    // Resources still held: open keys, heaps, blocks.
    std::size_t openKeys() const { return m_open.size(); }
    std::size_t liveHeaps() const { return m_heaps.size(); }
    std::size_t liveBlocks() const;
    std::vector<std::uint32_t> accessRequested;  // every create/open, in order
    std::vector<std::string> writes;             // "subkey|name" of every value set

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

private:
    static std::string KeyPath(RegKey root, const char* subKey);
    std::map<std::string, Key> m_keys;
    std::map<RegKey, std::string> m_open;  // handle -> key path
    std::map<HeapRef, std::set<void*>> m_heaps;
    RegKey m_nextKey = 0x100;
    HeapRef m_nextHeap = 0x1000;
};

}  // namespace trv
