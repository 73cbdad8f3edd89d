// Small RAII owners and HRESULT helpers shared by the Win32 code, after WIL's
// names: each owner says what it frees, so no logic frees by hand.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <utility>

#define RETURN_IF_FAILED(expr)             \
    do {                                   \
        const HRESULT hrFailed_ = (expr);  \
        if (FAILED(hrFailed_)) return hrFailed_; \
    } while (0)

#define RETURN_HR_IF(hr, cond)     \
    do {                           \
        if (cond) return (hr);     \
    } while (0)

#define RETURN_HR_IF_NULL(hr, ptr) RETURN_HR_IF(hr, (ptr) == nullptr)

#define RETURN_IF_WIN32_ERROR(expr)                              \
    do {                                                         \
        const LONG errWin32_ = (expr);                           \
        if (errWin32_ != ERROR_SUCCESS) return HRESULT_FROM_WIN32(errWin32_); \
    } while (0)

namespace trv {

// An export that newer Windows or Wine may lack: null when the module or the export is missing.
template <typename Function>
Function ProcIn(HMODULE module, const char* name) {
    return module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

// The last Win32 error as an HRESULT, never a success code.
inline HRESULT LastErrorAsHresult() {
    const DWORD error = GetLastError();
    return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(T* p) : m_p(p) { if (m_p) m_p->AddRef(); }
    ComPtr(const ComPtr& other) : ComPtr(other.m_p) {}
    ComPtr(ComPtr&& other) noexcept : m_p(other.Detach()) {}
    ~ComPtr() { Reset(); }
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(m_p, other.m_p);
        return *this;
    }

    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    // For out parameters: releases what it held first.
    T** Put() {
        Reset();
        return &m_p;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }
    void Reset() {
        if (m_p) {
            T* p = m_p;
            m_p = nullptr;
            p->Release();
        }
    }
    void Attach(T* p) {
        Reset();
        m_p = p;
    }
    T* Detach() {
        T* p = m_p;
        m_p = nullptr;
        return p;
    }
    HRESULT CopyTo(T** out) const {
        if (!out) return E_POINTER;
        *out = m_p;
        if (m_p) m_p->AddRef();
        return S_OK;
    }
    template <class U>
    HRESULT As(REFIID iid, ComPtr<U>& out) const {
        return m_p ? m_p->QueryInterface(iid, out.PutVoid()) : E_POINTER;
    }

private:
    T* m_p = nullptr;
};

class UniqueBstr {
public:
    UniqueBstr() = default;
    explicit UniqueBstr(BSTR b) : m_b(b) {}
    UniqueBstr(const UniqueBstr&) = delete;
    UniqueBstr& operator=(const UniqueBstr&) = delete;
    UniqueBstr(UniqueBstr&& other) noexcept : m_b(other.Release()) {}
    ~UniqueBstr() { Reset(); }

    BSTR Get() const { return m_b; }
    BSTR* Put() {
        Reset();
        return &m_b;
    }
    void Reset(BSTR b = nullptr) {
        if (m_b) SysFreeString(m_b);
        m_b = b;
    }
    BSTR Release() {
        BSTR b = m_b;
        m_b = nullptr;
        return b;
    }

private:
    BSTR m_b = nullptr;
};

class UniqueVariant : public VARIANT {
public:
    UniqueVariant() { VariantInit(this); }
    UniqueVariant(const UniqueVariant&) = delete;
    UniqueVariant& operator=(const UniqueVariant&) = delete;
    ~UniqueVariant() { VariantClear(this); }
    void Reset() { VariantClear(this); }
};

class UniqueHkey {
public:
    UniqueHkey() = default;
    UniqueHkey(const UniqueHkey&) = delete;
    UniqueHkey& operator=(const UniqueHkey&) = delete;
    ~UniqueHkey() { Reset(); }

    HKEY Get() const { return m_key; }
    HKEY* Put() {
        Reset();
        return &m_key;
    }
    void Reset() {
        if (m_key) RegCloseKey(m_key);
        m_key = nullptr;
    }

private:
    HKEY m_key = nullptr;
};

class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) : m_h(h) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : m_h(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    ~UniqueHandle() { Reset(); }

    HANDLE Get() const { return m_h; }
    bool Valid() const { return m_h && m_h != INVALID_HANDLE_VALUE; }
    void Reset(HANDLE h = nullptr) {
        if (Valid()) CloseHandle(m_h);
        m_h = h;
    }
    HANDLE Release() {
        HANDLE h = m_h;
        m_h = nullptr;
        return h;
    }

private:
    HANDLE m_h = nullptr;
};

// A critical section owned for the life of its holder.
class CriticalSection {
public:
    CriticalSection() { m_ok = InitializeCriticalSectionAndSpinCount(&m_cs, 0) != FALSE; }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    ~CriticalSection() {
        if (m_ok) DeleteCriticalSection(&m_cs);
    }
    bool Valid() const { return m_ok; }
    void Enter() { EnterCriticalSection(&m_cs); }
    void Leave() { LeaveCriticalSection(&m_cs); }

private:
    CRITICAL_SECTION m_cs;
    bool m_ok = false;
};

class CriticalSectionLock {
public:
    explicit CriticalSectionLock(CriticalSection& cs) : m_cs(cs) { m_cs.Enter(); }
    ~CriticalSectionLock() { m_cs.Leave(); }
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

private:
    CriticalSection& m_cs;
};

}  // namespace trv
