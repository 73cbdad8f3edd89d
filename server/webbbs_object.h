// The scriptable WebBBS object: the dual IWebBBS over the portable
// trv::WebBBS, its single connection point, class information and object
// safety. Apartment-threaded, so its reference count is a plain counter.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <objsafe.h>
#include <olectl.h>

#include "control/webbbs.h"
#include "server/WebControl.h"
#include "platform/win32/com_util.h"
#include "server/object_safety.h"
#include "server/sink_slots.h"

// MinGW's objsafe.h declares no __uuidof for IObjectSafety.
__CRT_UUID_DECL(IObjectSafety, 0xcb5bdc81, 0x93c1, 0x11cf, 0x8f, 0x20, 0x00, 0x80, 0x5f, 0x2c,
                0xd0, 0x64)

namespace trv {

class WebBBSObject;

// The event source: the connection point for _IWebBBSEvents. Its own
// QueryInterface answers only IConnectionPoint; its lifetime is the object's.
class CProxy_IWebBBSEvents : public IConnectionPoint {
public:
    explicit CProxy_IWebBBSEvents(WebBBSObject& owner) : m_owner(owner) {}
    ~CProxy_IWebBBSEvents();
    CProxy_IWebBBSEvents(const CProxy_IWebBBSEvents&) = delete;
    CProxy_IWebBBSEvents& operator=(const CProxy_IWebBBSEvents&) = delete;

    // IUnknown
    IFACEMETHODIMP QueryInterface(REFIID iid, void** out) override;
    IFACEMETHODIMP_(ULONG) AddRef() override;
    IFACEMETHODIMP_(ULONG) Release() override;

    // IConnectionPoint
    IFACEMETHODIMP GetConnectionInterface(IID* iid) override;
    IFACEMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
    IFACEMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
    IFACEMETHODIMP Unadvise(DWORD cookie) override;
    IFACEMETHODIMP EnumConnections(IEnumConnections** connections) override;

    void FireInstallCompleteEvent();
    // E_OUTOFMEMORY when an argument copy fails; later sinks miss the event.
    HRESULT FireUpSelectComplete(BSTR strPath, BSTR strSize, BSTR strMode);

private:
    WebBBSObject& m_owner;
    SinkSlots<IDispatch> m_sinks;
};

class WebBBSObject : public IConnectionPointContainer,
                     public IWebBBS,
                     public IProvideClassInfo2,
                     public IObjectSafety,
                     public IObjectWithSite {
public:
    // outer: the controlling object when aggregated, else nullptr.
    explicit WebBBSObject(IUnknown* outer);
    virtual ~WebBBSObject();
    WebBBSObject(const WebBBSObject&) = delete;
    WebBBSObject& operator=(const WebBBSObject&) = delete;

    // The inner IUnknown an aggregating object holds.
    IUnknown* Inner() { return &m_inner; }
    // The object's own interface table, without delegation.
    HRESULT QueryOwnInterface(REFIID iid, void** out);

    // IUnknown (delegates to the outer object when aggregated)
    IFACEMETHODIMP QueryInterface(REFIID iid, void** out) override;
    IFACEMETHODIMP_(ULONG) AddRef() override;
    IFACEMETHODIMP_(ULONG) Release() override;

    // IConnectionPointContainer
    IFACEMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override;
    IFACEMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

    // IDispatch
    IFACEMETHODIMP GetTypeInfoCount(UINT* count) override;
    IFACEMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    IFACEMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                                 DISPID* dispids) override;
    IFACEMETHODIMP Invoke(DISPID dispid, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                          VARIANT* result, EXCEPINFO* exception, UINT* argError) override;

    // IWebBBS
    IFACEMETHODIMP CheckInstall() override;
    IFACEMETHODIMP AllowPopUp(BSTR strTemp) override;
    IFACEMETHODIMP ShowUpFileDlg() override;
    IFACEMETHODIMP SelectComplete(BSTR strPath, BSTR strSize, BSTR strMode) override;
    IFACEMETHODIMP UpLoadInit() override;
    IFACEMETHODIMP UpLoadInfo(BSTR strIdx) override;
    IFACEMETHODIMP UpLoadEnd(BSTR strUserID, BSTR strUserPW) override;
    IFACEMETHODIMP DownLoadInit() override;
    IFACEMETHODIMP DownLoadInfo(BSTR strIdx, BSTR strPath) override;
    IFACEMETHODIMP DownLoadEnd(BSTR strUserID, BSTR strUserPW) override;
    IFACEMETHODIMP LauncherExplorer(BSTR strUserID, BSTR strUserPW) override;
    IFACEMETHODIMP LauncherWebLink(BSTR strUserID, BSTR strUserPW, BSTR strWebLink,
                                   BSTR* pVal) override;

    // IProvideClassInfo2
    IFACEMETHODIMP GetClassInfo(ITypeInfo** info) override;
    IFACEMETHODIMP GetGUID(DWORD kind, GUID* guid) override;

    // IObjectSafety
    IFACEMETHODIMP GetInterfaceSafetyOptions(REFIID iid, DWORD* supported,
                                             DWORD* enabled) override;
    IFACEMETHODIMP SetInterfaceSafetyOptions(REFIID iid, DWORD mask, DWORD enabled) override;

    // IObjectWithSite: answered only by a build with a site lock.
    IFACEMETHODIMP SetSite(IUnknown* site) override;
    IFACEMETHODIMP GetSite(REFIID iid, void** out) override;

private:
    friend class CProxy_IWebBBSEvents;

    class InnerUnknown : public IUnknown {
    public:
        explicit InnerUnknown(WebBBSObject& owner) : m_owner(owner) {}
        IFACEMETHODIMP QueryInterface(REFIID iid, void** out) override;
        IFACEMETHODIMP_(ULONG) AddRef() override;
        IFACEMETHODIMP_(ULONG) Release() override;

    private:
        WebBBSObject& m_owner;
    };

    // Forwards the core's event to the connection point.
    class EventBridge : public WebBBSEvents {
    public:
        explicit EventBridge(CProxy_IWebBBSEvents& proxy) : m_proxy(proxy) {}
        long FireInstallCompleteEvent() override {
            m_proxy.FireInstallCompleteEvent();
            return 0;
        }

    private:
        CProxy_IWebBBSEvents& m_proxy;
    };

    // Every public method: keeps the object alive until it returns (a page
    // may drop its last reference inside a modal loop or an event handler),
    // asks the site lock, and leaves one line in the support log.
    template <class Body>
    HRESULT PublicCall(const char* method, Body body);
    // Why a locked module refuses this page, or nullptr.
    const char* SiteRefusal();

    ULONG InnerAddRef() { return ++m_refCount; }
    ULONG InnerRelease();
    IUnknown* Controlling() { return m_outer ? m_outer : &m_inner; }

    // Declared first so it is destroyed last: sinks go after the state.
    CProxy_IWebBBSEvents m_proxy;
    InnerUnknown m_inner;
    IUnknown* m_outer;
    SafetyOptions m_safety;
    ULONG m_refCount = 0;
    EventBridge m_bridge;
    ComPtr<IUnknown> m_site;
    trv::WebBBS m_control;
};

}  // namespace trv
