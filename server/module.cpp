// Module state, the class table and the four exports' plumbing.
#include "server/module.h"

#include "control/credentials.h"
#include "platform/support_log.h"
#include "platform/win32/module_hold.h"
#include "platform/win32/support_log_win32.h"
#include "server/WebControl.h"

namespace trv {

// {B5C98172-8387-4C09-B1D7-B01043CAF98A}
const GUID APPID_WebControl = {0xb5c98172, 0x8387, 0x4c09,
                               {0xb1, 0xd7, 0xb0, 0x10, 0x43, 0xca, 0xf9, 0x8a}};

namespace {

// One row per class the module serves.
struct ClassRow {
    const CLSID* clsid;
    HRESULT (*createClassObject)(REFIID iid, void** out);
    std::atomic<IUnknown*> cached;
};

class ClassTable {
public:
    ClassTable() : m_initialised(m_lock.Valid()) {}
    ~ClassTable() {
        for (ClassRow& row : m_rows) {
            IUnknown* cached = row.cached.exchange(nullptr);
            if (cached && !m_processEnding) cached->Release();
        }
    }

    bool Initialised() const { return m_initialised; }
    void SetProcessEnding() { m_processEnding = true; }

    HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out) {
        RETURN_HR_IF(E_UNEXPECTED, !m_initialised);
        RETURN_HR_IF_NULL(E_POINTER, out);
        *out = nullptr;
        for (ClassRow& row : m_rows) {
            if (!row.createClassObject || !IsEqualCLSID(*row.clsid, clsid)) continue;
            if (!row.cached.load()) {
                CriticalSectionLock lock(m_lock);
                if (!row.cached.load()) {
                    IUnknown* created = nullptr;
                    RETURN_IF_FAILED(row.createClassObject(IID_IUnknown,
                                                           reinterpret_cast<void**>(&created)));
                    row.cached.store(created);
                }
            }
            const HRESULT hr = row.cached.load()->QueryInterface(iid, out);
            if (SUCCEEDED(hr) && !*out) return CLASS_E_CLASSNOTAVAILABLE;
            return hr;
        }
        return CLASS_E_CLASSNOTAVAILABLE;
    }

private:
    CriticalSection m_lock;
    bool m_initialised;
    bool m_processEnding = false;
    ClassRow m_rows[1] = {{&CLSID_WebBBS, &CreateWebBBSClassObject, {nullptr}}};
};

// Module-level objects, constructed in this order and destroyed in reverse.
ClassTable g_classTable;
CWebControlModule g_module;

// The user-interface side of the module: its start hook empties the
// credentials before any object exists.
class CWebControlApp {
public:
    CWebControlApp() = default;
    virtual ~CWebControlApp() = default;

    virtual bool OnProcessAttach() {
        ResetCredentials();
        SetSupportLog(&SystemSupportLog());
        return true;
    }
    virtual void OnProcessDetach() { SetSupportLog(nullptr); }
};

CWebControlApp g_app;

// Caches one type description of the registered library.
class TypeInfoHolder {
public:
    explicit TypeInfoHolder(const GUID& guid) : m_guid(guid) {}

    HRESULT Get(LCID lcid, ITypeInfo** out) {
        RETURN_HR_IF_NULL(E_POINTER, out);
        *out = nullptr;
        if (!m_info.load()) {
            CriticalSectionLock lock(g_module.InitLock());
            if (!m_info.load()) {
                ComPtr<ITypeLib> library;
                RETURN_IF_FAILED(LoadRegTypeLib(LIBID_WebControlLib, 1, 0, lcid, library.Put()));
                ComPtr<ITypeInfo> info;
                RETURN_IF_FAILED(library->GetTypeInfoOfGuid(m_guid, info.Put()));
                if (!g_module.AddTermFunc(&TypeInfoHolder::Release, this)) return E_OUTOFMEMORY;
                m_info.store(info.Detach());
            }
        }
        ITypeInfo* info = m_info.load();
        info->AddRef();
        *out = info;
        return S_OK;
    }

private:
    static void Release(void* arg) {
        auto* self = static_cast<TypeInfoHolder*>(arg);
        if (ITypeInfo* info = self->m_info.exchange(nullptr)) info->Release();
    }

    const GUID& m_guid;
    std::atomic<ITypeInfo*> m_info{nullptr};
};

TypeInfoHolder g_webBBSInfo(IID_IWebBBS);
TypeInfoHolder g_classInfo(CLSID_WebBBS);

}  // namespace

CWebControlModule::CWebControlModule() = default;

CWebControlModule::~CWebControlModule() {
    while (TermEntry* entry = m_termFuncs) {
        m_termFuncs = entry->next;
        if (!m_processEnding) entry->func(entry->arg);
        delete entry;
    }
}

LONG CWebControlModule::Lock() { return ++m_lockCount; }
LONG CWebControlModule::Unlock() { return --m_lockCount; }
LONG CWebControlModule::GetLockCount() const { return m_lockCount.load(); }

void CWebControlModule::AddCommonReplacements(Replacements& replacements) const {
    replacements.emplace_back("APPID", kAppIdText);
}

bool CWebControlModule::AddTermFunc(TermFunc func, void* arg) {
    auto* entry = new (std::nothrow) TermEntry{func, arg, nullptr};
    if (!entry) return false;
    CriticalSectionLock lock(m_initLock);
    entry->next = m_termFuncs;
    m_termFuncs = entry;
    return true;
}

CWebControlModule& Module() { return g_module; }

HRESULT GetWebBBSTypeInfo(LCID lcid, ITypeInfo** info) { return g_webBBSInfo.Get(lcid, info); }
HRESULT GetWebBBSClassInfo(LCID lcid, ITypeInfo** info) { return g_classInfo.Get(lcid, info); }

}  // namespace trv

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    using namespace trv;
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        g_module.SetInstance(instance);
        DisableThreadLibraryCalls(instance);
        if (!g_app.OnProcessAttach()) {
            g_app.OnProcessDetach();
            return FALSE;
        }
        break;
    case DLL_PROCESS_DETACH:
        g_app.OnProcessDetach();
        if (reserved) {
            g_module.SetProcessEnding();
            g_classTable.SetProcessEnding();
        }
        break;
    default:
        break;
    }
    return TRUE;
}

// Live objects and the module's own threads (an update's download) keep it loaded.
STDAPI DllCanUnloadNow() {
    return trv::Module().GetLockCount() == 0 && trv::ModuleHoldCount() == 0 ? S_OK : S_FALSE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    return trv::g_classTable.GetClassObject(clsid, iid, out);
}

STDAPI DllRegisterServer() { return trv::RegisterServer(); }

STDAPI DllUnregisterServer() { return trv::UnregisterServer(); }
