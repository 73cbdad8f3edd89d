// The server object: counts the reasons the module must stay loaded, guards
// one-time loads, and runs clean-up functions when the module goes away.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <atomic>

#include "platform/win32/com_util.h"
#include "server/registrar.h"

namespace trv {

// The AppID, written by both registrar scripts.
extern const GUID APPID_WebControl;
constexpr char kAppIdText[] = "{B5C98172-8387-4C09-B1D7-B01043CAF98A}";

class CWebControlModule {
public:
    using TermFunc = void (*)(void* arg);

    CWebControlModule();
    virtual ~CWebControlModule();
    CWebControlModule(const CWebControlModule&) = delete;
    CWebControlModule& operator=(const CWebControlModule&) = delete;

    virtual LONG Lock();
    virtual LONG Unlock();
    virtual LONG GetLockCount() const;
    // "APPID", which every registrar script of the module may use.
    virtual void AddCommonReplacements(Replacements& replacements) const;

    CriticalSection& InitLock() { return m_initLock; }
    // Run at shutdown, last added first. false when out of memory.
    bool AddTermFunc(TermFunc func, void* arg);

    HINSTANCE Instance() const { return m_instance; }
    void SetInstance(HINSTANCE instance) { m_instance = instance; }
    // At process exit other DLLs may already be gone: skip releasing COM
    // objects into them.
    void SetProcessEnding() { m_processEnding = true; }

private:
    struct TermEntry {
        TermFunc func;
        void* arg;
        TermEntry* next;
    };

    std::atomic<LONG> m_lockCount{0};
    CriticalSection m_initLock;
    TermEntry* m_termFuncs = nullptr;
    HINSTANCE m_instance = nullptr;
    bool m_processEnding = false;
};

CWebControlModule& Module();

// Type descriptions from the registered library, loaded on first use under
// the module's lock and cached until shutdown. The result carries a reference.
HRESULT GetWebBBSTypeInfo(LCID lcid, ITypeInfo** info);
HRESULT GetWebBBSClassInfo(LCID lcid, ITypeInfo** info);

// The class object's creator for the class table.
HRESULT CreateWebBBSClassObject(REFIID iid, void** out);
// A new WebBBS object (aggregated when outer is given) asked for iid.
HRESULT CreateWebBBSInstance(IUnknown* outer, REFIID iid, void** out);

// Registration steps (registration.cpp).
HRESULT RegisterServer();
HRESULT UnregisterServer();

}  // namespace trv
