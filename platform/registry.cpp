#include "platform/registry.h"

#include <cstring>

namespace trv {

namespace {

// Creates the private heap of one operation and destroys it afterwards,
// after the value living on it has freed its data.
class ScopedHeap {
public:
    explicit ScopedHeap(IRegistryApi& api) : m_api(api), m_heap(api.CreateHeap()) {}
    ~ScopedHeap() {
        if (m_heap) m_api.DestroyHeap(m_heap);
    }
    ScopedHeap(const ScopedHeap&) = delete;
    ScopedHeap& operator=(const ScopedHeap&) = delete;
    HeapRef get() const { return m_heap; }

private:
    IRegistryApi& m_api;
    HeapRef m_heap;
};

}  // namespace

void RegValue::FreeData() {
    if (data) api.Free(heap, data);
    data = nullptr;
    size = 0;
}

bool RegValue::Allocate(std::uint32_t bytes) {
    FreeData();
    if (!heap) return false;
    // A zero-length value still gets a block so data is never dangling.
    data = static_cast<std::uint8_t*>(api.Alloc(heap, bytes ? bytes : 1));
    if (!data) return false;
    size = bytes;
    return true;
}

bool RegValue::SetText(const char* text, bool expand) {
    const std::size_t length = text ? std::strlen(text) : 0;
    if (length >= 0xFFFFFFFFu) return false;
    if (!Allocate(static_cast<std::uint32_t>(length + 1))) return false;
    type = expand ? kRegExpandSz : kRegSz;
    if (length) std::memcpy(data, text, length);
    data[length] = 0;
    return true;
}

bool RegValue::GetText(std::string& out) const {
    if (type != kRegSz && type != kRegExpandSz && type != kRegLink) return false;
    if (!data) {
        out.clear();
        return true;
    }
    const void* nul = std::memchr(data, 0, size);
    const std::size_t length =
        nul ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - data) : size;
    out.assign(reinterpret_cast<const char*>(data), length);
    return true;
}

bool SetValue(IRegistryApi& api, const char* subKey, const char* valueName,
              const RegValue& value, RegKey root) {
    RegKey key = 0;
    if (api.CreateKey(root, subKey, kKeyWrite, key) != 0) return false;
    const long result = api.SetValue(key, valueName, value.type, value.data, value.size);
    api.CloseKey(key);
    return result == 0;
}

bool QueryValue(IRegistryApi& api, const char* subKey, const char* valueName,
                RegValue& value, RegKey root) {
    RegKey key = 0;
    if (api.OpenKey(root, subKey, kKeyRead, key) != 0) return false;
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    if (api.QueryValue(key, valueName, &type, nullptr, &size) != 0 || !value.Allocate(size)) {
        api.CloseKey(key);
        value.FreeData();
        return false;
    }
    // The value may have grown since its size was asked; then the read fails.
    std::uint32_t got = size;
    if (api.QueryValue(key, valueName, &type, value.data, &got) != 0 || got > size) {
        api.CloseKey(key);
        value.FreeData();
        return false;
    }
    value.size = got;
    value.type = type;
    api.CloseKey(key);
    return true;
}

bool CRegistry::WriteDword(const char* subKey, const char* valueName,
                           const std::uint32_t* pValue) {
    if (!pValue) return false;
    ScopedHeap heap(m_api);
    RegValue value(m_api, heap.get());
    if (!value.Allocate(4)) return false;
    std::memcpy(value.data, pValue, 4);
    value.type = kRegDword;
    return SetValue(m_api, subKey, valueName, value, m_hKeyRoot);
}

bool CRegistry::WriteString(const char* subKey, const char* valueName, const char* text) {
    ScopedHeap heap(m_api);
    RegValue value(m_api, heap.get());
    if (!value.SetText(text, false)) return false;
    return SetValue(m_api, subKey, valueName, value, m_hKeyRoot);
}

bool CRegistry::ReadString(const char* subKey, const char* valueName, std::string& out) {
    ScopedHeap heap(m_api);
    RegValue value(m_api, heap.get());
    std::string text;
    if (!QueryValue(m_api, subKey, valueName, value, m_hKeyRoot) || !value.GetText(text))
        return false;
    out = std::move(text);
    return true;
}

bool CRegistry::ReadDword(const char* subKey, const char* valueName, std::uint32_t& out) {
    ScopedHeap heap(m_api);
    RegValue value(m_api, heap.get());
    if (!QueryValue(m_api, subKey, valueName, value, m_hKeyRoot)) return false;
    if (value.type != kRegDword || value.size != 4) return false;
    std::memcpy(&out, value.data, 4);
    return true;
}

}  // namespace trv
