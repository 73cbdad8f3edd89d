// Helpers for the COM client tests: creating the registered control,
// calling it by name, and an event sink that records what it receives.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <functional>
#include <string>
#include <vector>

#include "server/WebControl.h"

namespace trv::comtest {

template <class T>
class Ptr {
public:
    Ptr() = default;
    Ptr(T* p) : m_p(p) { if (m_p) m_p->AddRef(); }
    Ptr(const Ptr& o) : Ptr(o.m_p) {}
    Ptr& operator=(Ptr o) { std::swap(m_p, o.m_p); return *this; }
    ~Ptr() { Reset(); }
    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    T** Put() { Reset(); return &m_p; }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }
    void Reset() { if (m_p) { T* p = m_p; m_p = nullptr; p->Release(); } }
    T* Detach() { T* p = m_p; m_p = nullptr; return p; }

private:
    T* m_p = nullptr;
};

// An owned BSTR for calls through the IWebBBS table, the one way to tell
// S_FALSE from S_OK (IDispatch::Invoke reports both as S_OK).
class Bstr {
public:
    Bstr(const std::wstring& text)
        : m_b(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~Bstr() { SysFreeString(m_b); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    operator BSTR() const { return m_b; }

private:
    BSTR m_b;
};

// The control, created by its ProgID.
HRESULT CreateControl(REFIID iid, void** out);
Ptr<IDispatch> CreateDispatch();

// GetIDsOfNames + Invoke(DISPATCH_METHOD) with string arguments in declared order.
HRESULT CallByName(IDispatch* object, const wchar_t* name, const std::vector<std::wstring>& args,
                   VARIANT* result = nullptr);

// The twelve methods of IWebBBS, in DISPID order (DISPID = index + 1).
extern const wchar_t* const kMethodNames[12];

// Calls `name` by name while another thread presses Cancel, as a user would,
// on the first dialog of this process that shows within `timeoutMs`;
// *closed tells whether one did.
HRESULT CallCancellingDialog(IDispatch* object, const wchar_t* name, DWORD timeoutMs, bool* closed);

// DllCanUnloadNow of the control as loaded in this process.
HRESULT CanUnloadNow();

// One received event: its DISPID and its string arguments in declared order.
struct Event {
    DISPID dispid;
    std::vector<std::wstring> args;
    std::vector<VARTYPE> types;  // as received, element 0 first
};

// A sink for _IWebBBSEvents (or, with answersEvents false, IDispatch only).
class Sink : public IDispatch {
public:
    explicit Sink(int id, bool answersEvents = true) : id(id), m_answers(answersEvents) {}
    virtual ~Sink() = default;

    IFACEMETHODIMP QueryInterface(REFIID iid, void** out) override;
    IFACEMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    IFACEMETHODIMP_(ULONG) Release() override { return --refs; }  // lives on the stack
    IFACEMETHODIMP GetTypeInfoCount(UINT* n) override { *n = 0; return S_OK; }
    IFACEMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    IFACEMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    IFACEMETHODIMP Invoke(DISPID dispid, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                          VARIANT* result, EXCEPINFO* exception, UINT* argError) override;

    int id;
    LONG refs = 0;
    HRESULT answer = S_OK;
    std::vector<Event> events;
    std::function<void(Sink&)> onEvent;
    // Shared record of which sink was called, in call order.
    std::vector<int>* calls = nullptr;
    // What the last call looked like.
    GUID lastIid = {};
    LCID lastLcid = 0;
    WORD lastFlags = 0;
    bool lastHadOutputs = false;
    UINT lastNamedArgs = 0;

private:
    bool m_answers;
};

}  // namespace trv::comtest
