#include "platform/fake/registry_fake.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

namespace trv {

namespace {

constexpr long kFileNotFound = 2;
constexpr long kAccessDenied = 5;
constexpr long kInvalidHandle = 6;
constexpr long kMoreData = 234;

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Name(const char* valueName) { return Lower(valueName ? valueName : ""); }

}  // namespace

std::string FakeRegistry::KeyPath(RegKey root, const char* subKey) {
    return std::to_string(root) + "\\" + Lower(subKey ? subKey : "");
}

void FakeRegistry::Put(RegKey root, const std::string& subKey, const std::string& name,
                       std::uint32_t type, const std::vector<std::uint8_t>& bytes) {
    m_keys[KeyPath(root, subKey.c_str())][Lower(name)] = Value{type, bytes};
}

void FakeRegistry::PutString(RegKey root, const std::string& subKey, const std::string& name,
                             const std::string& text) {
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    Put(root, subKey, name, kRegSz, bytes);
}

const FakeRegistry::Value* FakeRegistry::Find(RegKey root, const std::string& subKey,
                                              const std::string& name) const {
    auto key = m_keys.find(KeyPath(root, subKey.c_str()));
    if (key == m_keys.end()) return nullptr;
    auto value = key->second.find(Lower(name));
    return value == key->second.end() ? nullptr : &value->second;
}

bool FakeRegistry::HasKey(RegKey root, const std::string& subKey) const {
    return m_keys.count(KeyPath(root, subKey.c_str())) != 0;
}

std::size_t FakeRegistry::liveBlocks() const {
    std::size_t n = 0;
    for (const auto& heap : m_heaps) n += heap.second.size();
    return n;
}

long FakeRegistry::CreateKey(RegKey root, const char* subKey, std::uint32_t access,
                             RegKey& key) {
    accessRequested.push_back(access);
    key = 0;
    if (createFails) return kAccessDenied;
    const std::string path = KeyPath(root, subKey);
    m_keys[path];
    key = m_nextKey++;
    m_open[key] = path;
    return 0;
}

long FakeRegistry::OpenKey(RegKey root, const char* subKey, std::uint32_t access, RegKey& key) {
    accessRequested.push_back(access);
    key = 0;
    const std::string path = KeyPath(root, subKey);
    if (!m_keys.count(path)) return kFileNotFound;
    key = m_nextKey++;
    m_open[key] = path;
    return 0;
}

long FakeRegistry::SetValue(RegKey key, const char* valueName, std::uint32_t type,
                            const std::uint8_t* data, std::uint32_t size) {
    auto open = m_open.find(key);
    if (open == m_open.end()) return kInvalidHandle;
    if (setFails) return kAccessDenied;
    writes.push_back(open->second + "|" + Name(valueName));
    Value value;
    value.type = type;
    if (data) value.bytes.assign(data, data + size);
    m_keys[open->second][Name(valueName)] = value;
    return 0;
}

long FakeRegistry::QueryValue(RegKey key, const char* valueName, std::uint32_t* type,
                              std::uint8_t* data, std::uint32_t* size) {
    auto open = m_open.find(key);
    if (open == m_open.end()) return kInvalidHandle;
    auto& values = m_keys[open->second];
    auto found = values.find(Name(valueName));
    if (found == values.end()) return kFileNotFound;
    Value& value = found->second;
    if (data && valueGrowsOnRead > 0) {
        value.bytes.insert(value.bytes.end(), static_cast<std::size_t>(valueGrowsOnRead), 'x');
        valueGrowsOnRead = 0;
    }
    const auto actual = static_cast<std::uint32_t>(value.bytes.size());
    if (type) *type = value.type;
    if (data) {
        if (!size || *size < actual) {
            if (size) *size = actual;
            return kMoreData;
        }
        if (actual) std::memcpy(data, value.bytes.data(), actual);
    }
    if (size) *size = actual;
    return 0;
}

void FakeRegistry::CloseKey(RegKey key) { m_open.erase(key); }

HeapRef FakeRegistry::CreateHeap() {
    if (heapFails) return 0;
    const HeapRef heap = m_nextHeap++;
    m_heaps[heap];
    return heap;
}

void* FakeRegistry::Alloc(HeapRef heap, std::uint32_t size) {
    auto found = m_heaps.find(heap);
    if (found == m_heaps.end()) return nullptr;
    void* block = std::malloc(size ? size : 1);
    if (block) found->second.insert(block);
    return block;
}

void FakeRegistry::Free(HeapRef heap, void* block) {
    auto found = m_heaps.find(heap);
    if (found == m_heaps.end() || !found->second.erase(block)) std::abort();  // foreign block
    std::free(block);
}

void FakeRegistry::DestroyHeap(HeapRef heap) {
    auto found = m_heaps.find(heap);
    if (found == m_heaps.end()) std::abort();
    // The value's data must be freed before its heap goes; a block still on
    // the heap here is a missed free.
    if (!found->second.empty()) std::abort();
    m_heaps.erase(found);
}

}  // namespace trv
