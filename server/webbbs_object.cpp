#include "server/webbbs_object.h"

#include <olectl.h>
#include <shlwapi.h>

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/support_log.h"
#include "platform/win32/support_log_win32.h"
#include "platform/win32/win32_platform.h"
#include "select/upload_select.h"
#include "server/module.h"
#include "server/page_address.h"
#include "platform/site_lock.h"
#include "update/popup_api.h"
#include "update/update_check.h"

namespace trv {

namespace {

// Script strings to the ANSI code page. A null BSTR is empty; most arguments
// end at their first NUL, as a C string would, while whole=true keeps every
// character the BSTR holds.
std::string Narrow(BSTR text, bool whole = false) {
    if (!text) return std::string();
    const UINT length = SysStringLen(text);
    int count = static_cast<int>(length);
    if (!whole) {
        count = 0;
        while (static_cast<UINT>(count) < length && text[count] != L'\0') ++count;
    }
    if (count == 0) return std::string();
    const int bytes = WideCharToMultiByte(CP_ACP, 0, text, count, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return std::string();
    std::string narrow(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, count, &narrow[0], bytes, nullptr, nullptr);
    return narrow;
}

HRESULT ToBstr(const std::string& text, BSTR* out) {
    *out = nullptr;
    const int chars = text.empty() ? 0
                                   : MultiByteToWideChar(CP_ACP, 0, text.data(),
                                                         static_cast<int>(text.size()), nullptr, 0);
    UniqueBstr result(SysAllocStringLen(nullptr, static_cast<UINT>(chars)));
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, result.Get());
    if (chars > 0)
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), result.Get(),
                            chars);
    *out = result.Release();
    return S_OK;
}

// No C++ exception may cross the COM boundary; the only ones the bodies can
// raise are allocation failures.
template <class Body>
HRESULT Guarded(Body body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

// Enumerators keep the module loaded while they live, since they may outlive
// the object they came from.
class ModuleReference {
public:
    ModuleReference() { Module().Lock(); }
    ~ModuleReference() { Module().Unlock(); }
    ModuleReference(const ModuleReference&) = delete;
    ModuleReference& operator=(const ModuleReference&) = delete;
};

// A heap object answering one interface (and IUnknown), created with one
// reference; it keeps the module loaded while it lives.
template <class Interface, const IID* InterfaceId>
class SingleInterfaceObject : public Interface {
public:
    IFACEMETHODIMP QueryInterface(REFIID iid, void** out) override {
        RETURN_HR_IF_NULL(E_POINTER, out);
        if (iid != IID_IUnknown && iid != *InterfaceId) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        *out = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    IFACEMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_refCount); }
    IFACEMETHODIMP_(ULONG) Release() override {
        const LONG count = InterlockedDecrement(&m_refCount);
        if (count == 0) delete this;
        return count;
    }

protected:
    virtual ~SingleInterfaceObject() = default;

private:
    ModuleReference m_module;
    LONG m_refCount = 1;
};

class EnumPoints final
    : public SingleInterfaceObject<IEnumConnectionPoints, &IID_IEnumConnectionPoints> {
public:
    EnumPoints(IConnectionPoint* point, ULONG position) : m_point(point), m_position(position) {}

    IFACEMETHODIMP Next(ULONG wanted, IConnectionPoint** points, ULONG* fetched) override {
        RETURN_HR_IF_NULL(E_POINTER, points);
        RETURN_HR_IF(E_INVALIDARG, wanted != 1 && !fetched);
        ULONG given = 0;
        if (wanted > 0 && m_position == 0) {
            m_point.CopyTo(&points[0]);
            m_position = 1;
            given = 1;
        }
        if (fetched) *fetched = given;
        return given == wanted ? S_OK : S_FALSE;
    }
    IFACEMETHODIMP Skip(ULONG count) override {
        const ULONG left = 1 - m_position;
        m_position = count >= left ? 1 : m_position + count;
        return count <= left ? S_OK : S_FALSE;
    }
    IFACEMETHODIMP Reset() override {
        m_position = 0;
        return S_OK;
    }
    IFACEMETHODIMP Clone(IEnumConnectionPoints** copy) override {
        RETURN_HR_IF_NULL(E_POINTER, copy);
        *copy = new (std::nothrow) EnumPoints(m_point.Get(), m_position);
        return *copy ? S_OK : E_OUTOFMEMORY;
    }

private:
    ComPtr<IConnectionPoint> m_point;
    ULONG m_position;
};

// Owns one reference to each sink of the snapshot.
class ConnectionList {
public:
    ConnectionList() = default;
    ConnectionList(const ConnectionList&) = delete;
    ConnectionList& operator=(const ConnectionList&) = delete;
    ~ConnectionList() {
        for (CONNECTDATA& data : entries) data.pUnk->Release();
    }
    // Throws std::bad_alloc.
    void Add(IUnknown* sink, DWORD cookie) {
        entries.push_back(CONNECTDATA{sink, cookie});
        sink->AddRef();
    }
    std::vector<CONNECTDATA> entries;
};

class EnumConnectionsImpl final
    : public SingleInterfaceObject<IEnumConnections, &IID_IEnumConnections> {
public:
    EnumConnectionsImpl(std::unique_ptr<ConnectionList> list, ULONG position)
        : m_list(std::move(list)), m_position(position) {}

    IFACEMETHODIMP Next(ULONG wanted, CONNECTDATA* data, ULONG* fetched) override {
        RETURN_HR_IF_NULL(E_POINTER, data);
        RETURN_HR_IF(E_INVALIDARG, wanted != 1 && !fetched);
        ULONG given = 0;
        while (given < wanted && m_position < m_list->entries.size()) {
            data[given] = m_list->entries[m_position++];
            data[given].pUnk->AddRef();
            ++given;
        }
        if (fetched) *fetched = given;
        return given == wanted ? S_OK : S_FALSE;
    }
    IFACEMETHODIMP Skip(ULONG count) override {
        const ULONG left = static_cast<ULONG>(m_list->entries.size()) - m_position;
        m_position += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    IFACEMETHODIMP Reset() override {
        m_position = 0;
        return S_OK;
    }
    IFACEMETHODIMP Clone(IEnumConnections** copy) override {
        RETURN_HR_IF_NULL(E_POINTER, copy);
        *copy = nullptr;
        return Guarded([&]() -> HRESULT {
            std::unique_ptr<ConnectionList> list(new ConnectionList);
            for (const CONNECTDATA& data : m_list->entries) list->Add(data.pUnk, data.dwCookie);
            *copy = new (std::nothrow) EnumConnectionsImpl(std::move(list), m_position);
            return *copy ? S_OK : E_OUTOFMEMORY;
        });
    }

private:
    std::unique_ptr<ConnectionList> m_list;
    ULONG m_position;
};

// The selection dialog reports through the object's own IWebBBS, so every
// entry reaches the page as UpSelectComplete.
class WebBBSSelectionSink : public SelectionSink {
public:
    explicit WebBBSSelectionSink(IWebBBS* owner) : m_owner(owner) {}
    HRESULT Report(BSTR strPath, BSTR strSize, BSTR strMode) override {
        return m_owner->SelectComplete(strPath, strSize, strMode);
    }

private:
    IWebBBS* m_owner;
};

// Every object of the module reaches the system through one platform, whose
// install check is the install/update dialog.
Win32Platform& ModulePlatform() {
    static Win32Platform platform(&RunFileUpdateCheck);
    return platform;
}

// Release builds for the service may name the pages allowed to drive the
// object (TRV_ALLOWED_SITES); without a list there is no lock.
#ifndef TRV_ALLOWED_SITES
#define TRV_ALLOWED_SITES ""
#endif
const SiteLock& ModuleSiteLock() {
    static const SiteLock lock(TRV_ALLOWED_SITES);
    return lock;
}

}  // namespace

// ---- connection point ----------------------------------------------------

CProxy_IWebBBSEvents::~CProxy_IWebBBSEvents() {
    m_sinks.Clear([](IDispatch* sink) { sink->Release(); });
}

IFACEMETHODIMP CProxy_IWebBBSEvents::QueryInterface(REFIID iid, void** out) {
    static const QITAB table[] = {
        QITABENT(CProxy_IWebBBSEvents, IConnectionPoint),
        {nullptr, 0},
    };
    return QISearch(this, table, iid, out);
}

IFACEMETHODIMP_(ULONG) CProxy_IWebBBSEvents::AddRef() { return m_owner.AddRef(); }
IFACEMETHODIMP_(ULONG) CProxy_IWebBBSEvents::Release() { return m_owner.Release(); }

IFACEMETHODIMP CProxy_IWebBBSEvents::GetConnectionInterface(IID* iid) {
    RETURN_HR_IF_NULL(E_POINTER, iid);
    *iid = DIID__IWebBBSEvents;
    return S_OK;
}

IFACEMETHODIMP CProxy_IWebBBSEvents::GetConnectionPointContainer(
    IConnectionPointContainer** container) {
    RETURN_HR_IF_NULL(E_POINTER, container);
    *container = &m_owner;
    m_owner.AddRef();
    return S_OK;
}

IFACEMETHODIMP CProxy_IWebBBSEvents::Advise(IUnknown* sink, DWORD* cookie) {
    if (cookie) *cookie = 0;
    RETURN_HR_IF(E_POINTER, !sink || !cookie);
    IID events;
    GetConnectionInterface(&events);
    IDispatch* connected = nullptr;
    const HRESULT hr = sink->QueryInterface(events, reinterpret_cast<void**>(&connected));
    if (hr == E_NOINTERFACE) return CONNECT_E_CANNOTCONNECT;
    RETURN_IF_FAILED(hr);
    RETURN_HR_IF(CONNECT_E_CANNOTCONNECT, !connected);
    const std::uint32_t slot = m_sinks.Add(connected);
    if (slot == 0) {
        connected->Release();
        return CONNECT_E_ADVISELIMIT;
    }
    *cookie = slot;
    return S_OK;
}

IFACEMETHODIMP CProxy_IWebBBSEvents::Unadvise(DWORD cookie) {
    IDispatch* sink = m_sinks.Remove(cookie);
    RETURN_HR_IF_NULL(CONNECT_E_NOCONNECTION, sink);
    sink->Release();
    return S_OK;
}

IFACEMETHODIMP CProxy_IWebBBSEvents::EnumConnections(IEnumConnections** connections) {
    RETURN_HR_IF_NULL(E_POINTER, connections);
    *connections = nullptr;
    return Guarded([&]() -> HRESULT {
        std::unique_ptr<ConnectionList> list(new ConnectionList);
        for (std::size_t i = 0; i < m_sinks.SlotCount(); ++i) {
            if (IDispatch* sink = m_sinks.At(i)) list->Add(sink, static_cast<DWORD>(i + 1));
        }
        *connections = new (std::nothrow) EnumConnectionsImpl(std::move(list), 0);
        return *connections ? S_OK : E_OUTOFMEMORY;
    });
}

void CProxy_IWebBBSEvents::FireInstallCompleteEvent() {
    m_sinks.ForEachConnected([](IDispatch* sink) {
        ComPtr<IDispatch> held(sink);
        DISPPARAMS none = {nullptr, nullptr, 0, 0};
        held->Invoke(1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr, nullptr,
                     nullptr);
        return true;
    });
}

HRESULT CProxy_IWebBBSEvents::FireUpSelectComplete(BSTR strPath, BSTR strSize, BSTR strMode) {
    HRESULT result = S_OK;
    m_sinks.ForEachConnected([&](IDispatch* sink) {
        ComPtr<IDispatch> held(sink);
        // Arguments go last first: the handler declared (path, size, mode)
        // finds the path in the last element.
        UniqueVariant args[3];
        const BSTR sources[3] = {strMode, strSize, strPath};
        for (int i = 0; i < 3; ++i) {
            args[i].vt = VT_BSTR;
            args[i].bstrVal = SysAllocString(sources[i]);
            if (sources[i] && !args[i].bstrVal) {
                result = E_OUTOFMEMORY;
                return false;
            }
        }
        DISPPARAMS params = {args, nullptr, 3, 0};
        held->Invoke(2, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr,
                     nullptr);
        return true;
    });
    return result;
}

// ---- the object ------------------------------------------------------------

WebBBSObject::WebBBSObject(IUnknown* outer)
    : m_proxy(*this), m_inner(*this), m_outer(outer), m_bridge(m_proxy),
      m_control(ModulePlatform(), &m_bridge) {
    Module().Lock();
    // A support engineer turns the log on, then the page is opened again.
    SystemSupportLog().ReadSwitch();
}

WebBBSObject::~WebBBSObject() { Module().Unlock(); }

HRESULT WebBBSObject::QueryOwnInterface(REFIID iid, void** out) {
    // The first row answers IUnknown: the object's identity is IWebBBS.
    static const QITAB table[] = {
        QITABENT(WebBBSObject, IWebBBS),
        QITABENT(WebBBSObject, IDispatch),
        QITABENT(WebBBSObject, IConnectionPointContainer),
        QITABENT(WebBBSObject, IProvideClassInfo),
        QITABENT(WebBBSObject, IProvideClassInfo2),
        QITABENT(WebBBSObject, IObjectSafety),
        {nullptr, 0},
    };
    const HRESULT hr = QISearch(this, table, iid, out);
    // Only a locked build learns its page from a site.
    if (hr == E_NOINTERFACE && ModuleSiteLock().Enabled() &&
        IsEqualIID(iid, IID_IObjectWithSite)) {
        *out = static_cast<IObjectWithSite*>(this);
        AddRef();
        return S_OK;
    }
    return hr;
}

IFACEMETHODIMP WebBBSObject::QueryInterface(REFIID iid, void** out) {
    return m_outer ? m_outer->QueryInterface(iid, out) : QueryOwnInterface(iid, out);
}

IFACEMETHODIMP_(ULONG) WebBBSObject::AddRef() {
    return m_outer ? m_outer->AddRef() : InnerAddRef();
}

IFACEMETHODIMP_(ULONG) WebBBSObject::Release() {
    return m_outer ? m_outer->Release() : InnerRelease();
}

ULONG WebBBSObject::InnerRelease() {
    const ULONG count = --m_refCount;
    if (count == 0) delete this;
    return count;
}

IFACEMETHODIMP WebBBSObject::InnerUnknown::QueryInterface(REFIID iid, void** out) {
    RETURN_HR_IF_NULL(E_POINTER, out);
    if (IsEqualIID(iid, IID_IUnknown)) {
        *out = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    return m_owner.QueryOwnInterface(iid, out);
}

IFACEMETHODIMP_(ULONG) WebBBSObject::InnerUnknown::AddRef() { return m_owner.InnerAddRef(); }
IFACEMETHODIMP_(ULONG) WebBBSObject::InnerUnknown::Release() { return m_owner.InnerRelease(); }

// IConnectionPointContainer

IFACEMETHODIMP WebBBSObject::EnumConnectionPoints(IEnumConnectionPoints** points) {
    RETURN_HR_IF_NULL(E_POINTER, points);
    *points = new (std::nothrow) EnumPoints(&m_proxy, 0);
    return *points ? S_OK : E_OUTOFMEMORY;
}

IFACEMETHODIMP WebBBSObject::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
    RETURN_HR_IF_NULL(E_POINTER, point);
    *point = nullptr;
    RETURN_HR_IF(CONNECT_E_NOCONNECTION, !IsEqualIID(iid, DIID__IWebBBSEvents));
    *point = &m_proxy;
    m_proxy.AddRef();
    return S_OK;
}

// IDispatch: everything goes through the registered type description.

IFACEMETHODIMP WebBBSObject::GetTypeInfoCount(UINT* count) {
    RETURN_HR_IF_NULL(E_POINTER, count);
    *count = 1;
    return S_OK;
}

IFACEMETHODIMP WebBBSObject::GetTypeInfo(UINT, LCID lcid, ITypeInfo** info) {
    RETURN_HR_IF_NULL(E_POINTER, info);
    return GetWebBBSTypeInfo(lcid, info);
}

IFACEMETHODIMP WebBBSObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID lcid,
                                           DISPID* dispids) {
    RETURN_HR_IF(E_POINTER, count > 0 && (!names || !dispids));
    ComPtr<ITypeInfo> info;
    RETURN_IF_FAILED(GetWebBBSTypeInfo(lcid, info.Put()));
    return info->GetIDsOfNames(names, count, dispids);
}

IFACEMETHODIMP WebBBSObject::Invoke(DISPID dispid, REFIID, LCID lcid, WORD flags,
                                    DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                    UINT* argError) {
    // The type description also dispatches the members the dual interface
    // inherits (QueryInterface, Release, ...); a script reaches the twelve only.
    RETURN_HR_IF(DISP_E_MEMBERNOTFOUND, dispid < 1 || dispid > 12);
    ComPtr<ITypeInfo> info;
    RETURN_IF_FAILED(GetWebBBSTypeInfo(lcid, info.Put()));
    // The type description trusts the argument block's counts; a block that
    // contradicts itself is refused here rather than read out of bounds.
    RETURN_HR_IF(E_INVALIDARG, !params);
    RETURN_HR_IF(E_INVALIDARG, params->cArgs > 0 && !params->rgvarg);
    RETURN_HR_IF(E_INVALIDARG, params->cNamedArgs > 0 && !params->rgdispidNamedArgs);
    RETURN_HR_IF(E_INVALIDARG, params->cNamedArgs > params->cArgs);
    // Wine's type description ignores surplus arguments; automation refuses
    // any count but the method's own.
    static const UINT kParamCounts[] = {0, 1, 0, 3, 0, 1, 2, 0, 2, 2, 2, 3};
    if ((flags & DISPATCH_METHOD) && params->cArgs != kParamCounts[dispid - 1])
        return DISP_E_BADPARAMCOUNT;
    const HRESULT hr = info->Invoke(static_cast<IWebBBS*>(this), dispid, flags, params, result,
                                    exception, argError);
    if (hr == DISP_E_TYPEMISMATCH && argError) {
        // Name the argument that cannot become a string, as automation does.
        for (UINT i = params->cArgs; i-- > 0;) {
            UniqueVariant converted;
            if (FAILED(VariantChangeType(&converted, &params->rgvarg[i], 0, VT_BSTR))) {
                *argError = i;
                break;
            }
        }
    }
    return hr;
}

// IWebBBS

template <class Body>
HRESULT WebBBSObject::PublicCall(const char* method, Body body) {
    ComPtr<IUnknown> self(Controlling());
    CallNote note(method);
    if (const char* refusal = SiteRefusal()) {
        NoteReason(refusal);
        return note.Done(E_ACCESSDENIED);
    }
    return note.Done(Guarded(body));
}

const char* WebBBSObject::SiteRefusal() {
    const SiteLock& lock = ModuleSiteLock();
    if (!lock.Enabled()) return nullptr;
    const PageAddresses page = m_site ? PageAddressesOf(m_site.Get()) : PageAddresses();
    if (!lock.Allows(page.document, page.top))
        return "site refused: the page's address is not on the site list";
    if (!lock.Allows(page.document, page.top, page.domain))
        return "site refused: the page lowered document.domain";
    return nullptr;
}

IFACEMETHODIMP WebBBSObject::CheckInstall() {
    return PublicCall("CheckInstall",
                      [&] { return static_cast<HRESULT>(m_control.CheckInstall()); });
}

IFACEMETHODIMP WebBBSObject::AllowPopUp(BSTR strTemp) {
    // Whole: a NUL inside the name must not cut it down to a host name.
    return PublicCall("AllowPopUp", [&] {
        const std::string site = Narrow(strTemp, true);
        // A locked build lets its pages open pop-ups only for its own sites.
        const SiteLock& lock = ModuleSiteLock();
        if (lock.Enabled() && !lock.CoversHost(site)) {
            NoteReason("pop-up allow list: not a host of the site list");
            return S_FALSE;
        }
        return AllowPopUpSite(site) ? S_OK : S_FALSE;
    });
}

IFACEMETHODIMP WebBBSObject::ShowUpFileDlg() {
    return PublicCall("ShowUpFileDlg", [&] {
        WebBBSSelectionSink sink(this);
        UploadSelect dialog(&sink);
        dialog.DoModal(GetActiveWindow());
        return S_OK;
    });
}

IFACEMETHODIMP WebBBSObject::SelectComplete(BSTR strPath, BSTR strSize, BSTR strMode) {
    return PublicCall("SelectComplete",
                      [&] { return m_proxy.FireUpSelectComplete(strPath, strSize, strMode); });
}

IFACEMETHODIMP WebBBSObject::UpLoadInit() {
    return PublicCall("UpLoadInit", [&] { return static_cast<HRESULT>(m_control.UpLoadInit()); });
}

IFACEMETHODIMP WebBBSObject::UpLoadInfo(BSTR strIdx) {
    return PublicCall("UpLoadInfo",
                      [&] { return static_cast<HRESULT>(m_control.UpLoadInfo(Narrow(strIdx))); });
}

IFACEMETHODIMP WebBBSObject::UpLoadEnd(BSTR strUserID, BSTR strUserPW) {
    return PublicCall("UpLoadEnd", [&] {
        return static_cast<HRESULT>(m_control.UpLoadEnd(Narrow(strUserID), Narrow(strUserPW)));
    });
}

IFACEMETHODIMP WebBBSObject::DownLoadInit() {
    return PublicCall("DownLoadInit",
                      [&] { return static_cast<HRESULT>(m_control.DownLoadInit()); });
}

IFACEMETHODIMP WebBBSObject::DownLoadInfo(BSTR strIdx, BSTR strPath) {
    return PublicCall("DownLoadInfo", [&] {
        return static_cast<HRESULT>(
            m_control.DownLoadInfo(Narrow(strIdx), Narrow(strPath, true)));
    });
}

IFACEMETHODIMP WebBBSObject::DownLoadEnd(BSTR strUserID, BSTR strUserPW) {
    return PublicCall("DownLoadEnd", [&] {
        return static_cast<HRESULT>(m_control.DownLoadEnd(Narrow(strUserID), Narrow(strUserPW)));
    });
}

IFACEMETHODIMP WebBBSObject::LauncherExplorer(BSTR strUserID, BSTR strUserPW) {
    return PublicCall("LauncherExplorer", [&] {
        return static_cast<HRESULT>(
            m_control.LauncherExplorer(Narrow(strUserID), Narrow(strUserPW)));
    });
}

IFACEMETHODIMP WebBBSObject::LauncherWebLink(BSTR strUserID, BSTR strUserPW, BSTR strWebLink,
                                             BSTR* pVal) {
    if (pVal) *pVal = nullptr;
    return PublicCall("LauncherWebLink", [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_POINTER, pVal);
        std::string answer;
        const long hr = m_control.LauncherWebLink(Narrow(strUserID), Narrow(strUserPW),
                                                  Narrow(strWebLink), answer);
        RETURN_IF_FAILED(ToBstr(answer, pVal));
        return static_cast<HRESULT>(hr);
    });
}

// IProvideClassInfo2

IFACEMETHODIMP WebBBSObject::GetClassInfo(ITypeInfo** info) {
    RETURN_HR_IF_NULL(E_POINTER, info);
    return GetWebBBSClassInfo(LOCALE_USER_DEFAULT, info);
}

IFACEMETHODIMP WebBBSObject::GetGUID(DWORD kind, GUID* guid) {
    RETURN_HR_IF_NULL(E_POINTER, guid);
    *guid = GUID_NULL;
    RETURN_HR_IF(E_INVALIDARG, kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID);
    *guid = DIID__IWebBBSEvents;
    return S_OK;
}

// IObjectSafety

IFACEMETHODIMP WebBBSObject::GetInterfaceSafetyOptions(REFIID iid, DWORD* supported,
                                                       DWORD* enabled) {
    RETURN_HR_IF(E_POINTER, !supported || !enabled);
    ComPtr<IUnknown> asked;
    const HRESULT hr = QueryInterface(iid, asked.PutVoid());
    if (FAILED(hr)) {
        *supported = 0;
        *enabled = 0;
        return hr;
    }
    *supported = SafetyOptions::kSupported;
    *enabled = m_safety.Enabled();
    return S_OK;
}

IFACEMETHODIMP WebBBSObject::SetInterfaceSafetyOptions(REFIID iid, DWORD mask, DWORD enabled) {
    ComPtr<IUnknown> asked;
    RETURN_HR_IF(E_NOINTERFACE, FAILED(QueryInterface(iid, asked.PutVoid())));
    RETURN_HR_IF(E_FAIL, !m_safety.Set(mask, enabled));
    return S_OK;
}

// IObjectWithSite

IFACEMETHODIMP WebBBSObject::SetSite(IUnknown* site) {
    m_site = ComPtr<IUnknown>(site);
    return S_OK;
}

IFACEMETHODIMP WebBBSObject::GetSite(REFIID iid, void** out) {
    RETURN_HR_IF_NULL(E_POINTER, out);
    *out = nullptr;
    RETURN_HR_IF(E_FAIL, !m_site);
    return m_site->QueryInterface(iid, out);
}

// ---- creation ---------------------------------------------------------------

HRESULT CreateWebBBSInstance(IUnknown* outer, REFIID iid, void** out) {
    RETURN_HR_IF_NULL(E_POINTER, out);
    *out = nullptr;
    RETURN_HR_IF(CLASS_E_NOAGGREGATION, outer && !IsEqualIID(iid, IID_IUnknown));
    WebBBSObject* object = nullptr;
    RETURN_IF_FAILED(Guarded([&] {
        object = new (std::nothrow) WebBBSObject(outer);
        return object ? S_OK : E_OUTOFMEMORY;
    }));
    // The count is 0 here: a refused interface leaves nobody holding it.
    const HRESULT hr = outer ? object->Inner()->QueryInterface(iid, out)
                             : object->QueryOwnInterface(iid, out);
    if (FAILED(hr)) delete object;
    return hr;
}

}  // namespace trv
