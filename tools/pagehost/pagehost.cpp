// pagehost: runs a page's control logic the way the browser does. It creates
// each <object classid="clsid:..."> of the page, runs the page's JScript
// blocks through the system's script engine with every object reachable by
// its id, and binds <script for="ID" event="Name(args)"> blocks to the
// objects' events through their connection points. <script src="PATH"> runs
// the file at PATH (relative to the page) in document order.
//
//   pagehost.exe PAGE.html [--call Function]... [--trace] [--site URL]
//                [--document URL|none] [--domain NAME] [--module DLL]
//
// --site URL sites every object that takes a site (IObjectWithSite) on a page
// at URL, as a browser does: the site hands out a browser whose LocationURL
// is URL (service SID_SWebBrowserApp) and a container moniker for URL.
// --document URL puts the objects in a frame at URL inside that page (the
// container moniker names URL); with none the site has no container moniker.
// --domain NAME gives the site a container, the page's document, whose
// domain (document.domain) is NAME: a page that lowered it says so.
// --module DLL creates the page's objects from that in-process server
// instead of the registered one (to try a build before registering it).
//
// Exit code: 0 when everything ran, 1 after a script error, 2 when the page
// or an object could not be loaded.
#include <windows.h>
#include <activscp.h>
#include <shellapi.h>
#include <objsafe.h>
#include <ocidl.h>
#include <oleauto.h>

#include <cstdio>
#include <optional>
#include <map>
#include <string>
#include <vector>

#include "html_page.h"
#include "page_document.h"
#include "platform/win32/dispatch_base.h"
#include "platform/win32/page_site.h"
#include "platform/win32/wide_text.h"

namespace {

// Not every import library carries these.
#ifdef _WIN64
const IID kIID_IActiveScriptParse = {
    0xc7ef7658, 0xe1ee, 0x480e, {0x97, 0xea, 0xd5, 0x2c, 0xb4, 0xd7, 0x6d, 0x17}};
#else
const IID kIID_IActiveScriptParse = {
    0xbb1a2ae2, 0xa4f9, 0x11cf, {0x8f, 0x20, 0x00, 0x80, 0x5f, 0x2c, 0xd0, 0x64}};
#endif

std::string g_pageName;
std::wstring g_pageDir;                 // the page's folder, with its separator
std::vector<std::wstring> g_sources;    // file names by script source context; 0 is the page
bool g_trace = false;
int g_scriptErrors = 0;
std::wstring g_siteUrl;
std::wstring g_modulePath;

bool ReadWholeFile(const std::wstring& path, std::string& out);

// ---- text --------------------------------------------------------------

std::wstring FromUtf8(const std::string& text) {
    if (text.empty()) return std::wstring();
    UINT cp = CP_UTF8;
    int n = MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, text.data(),
                                static_cast<int>(text.size()), nullptr, 0);
    if (n == 0) {  // not UTF-8: take it as the ANSI code page
        cp = CP_ACP;
        n = MultiByteToWideChar(cp, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    }
    std::wstring out(n, L'\0');
    MultiByteToWideChar(cp, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
    return out;
}

// Output goes out as UTF-8 bytes, whatever the console's code page.
void Print(const std::wstring& line) {
    const std::wstring text = line + L"\n";
    const std::string bytes = trv::NarrowUtf8(text.data(), text.size());
    DWORD written = 0;
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
        std::fwrite(bytes.data(), 1, bytes.size(), stdout);
        std::fflush(stdout);
    }
}

std::wstring Hex(HRESULT hr) {
    wchar_t buf[16];
    swprintf(buf, 16, L"0x%08lX", static_cast<unsigned long>(hr));
    return buf;
}

// A value as script would show it.
std::wstring Show(const VARIANT& v) {
    if (V_VT(&v) == VT_EMPTY) return L"undefined";
    if (V_VT(&v) == VT_NULL) return L"null";
    VARIANT s;
    VariantInit(&s);
    if (FAILED(VariantChangeType(&s, const_cast<VARIANT*>(&v), VARIANT_ALPHABOOL, VT_BSTR)))
        return L"[object]";
    std::wstring out(V_BSTR(&s) ? V_BSTR(&s) : L"", SysStringLen(V_BSTR(&s)));
    VariantClear(&s);
    return out;
}

// ---- small COM helpers --------------------------------------------------

template <class T>
class Ptr {
public:
    Ptr() = default;
    Ptr(const Ptr& o) : p_(o.p_) { if (p_) p_->AddRef(); }
    Ptr& operator=(const Ptr& o) {
        if (o.p_) o.p_->AddRef();
        if (p_) p_->Release();
        p_ = o.p_;
        return *this;
    }
    ~Ptr() { if (p_) p_->Release(); }
    T** Out() { Reset(); return &p_; }
    void Reset() { if (p_) p_->Release(); p_ = nullptr; }
    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    template <class U>
    HRESULT As(Ptr<U>& out, REFIID iid) const {
        return p_ ? p_->QueryInterface(iid, reinterpret_cast<void**>(out.Out())) : E_POINTER;
    }

private:
    T* p_ = nullptr;
};

struct PageItem {
    std::wstring id;
    Ptr<IUnknown> object;
    Ptr<IDispatch> dispatch;
    Ptr<ITypeInfo> classInfo;
    Ptr<IObjectWithSite> sited;
};

// The class object from --module, or from the registration.
HRESULT CreatePageObject(REFCLSID clsid, IUnknown** out) {
    if (g_modulePath.empty())
        return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                IID_IUnknown, reinterpret_cast<void**>(out));
    static HMODULE module = LoadLibraryW(g_modulePath.c_str());  // stays for the run
    if (!module) return HRESULT_FROM_WIN32(GetLastError());
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<GetClassObject>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    if (!get) return E_NOINTERFACE;
    Ptr<IClassFactory> factory;
    HRESULT hr = get(clsid, IID_IClassFactory, reinterpret_cast<void**>(factory.Out()));
    if (SUCCEEDED(hr))
        hr = factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(out));
    return hr;
}

// ---- host objects that script reaches by name --------------------------

// Lives for the whole run; has one member, `name` (DISPID 1), reached with
// the dispatch flag `kind`. Call does the member's work.
class OneMemberDispatch : public trv::InvokeOnlyDispatch {
public:
    OneMemberDispatch(const wchar_t* name, WORD kind) : name_(name), kind_(kind) {}

    IFACEMETHODIMP_(ULONG) AddRef() override { return 2; }
    IFACEMETHODIMP_(ULONG) Release() override { return 1; }
    IFACEMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                 DISPID* ids) override {
        return OneName(name_, names, count, ids);
    }
    IFACEMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                          VARIANT* result, EXCEPINFO*, UINT*) override {
        if (id != 1 || !(flags & kind_)) return DISP_E_MEMBERNOTFOUND;
        if (result) VariantInit(result);
        return Call(params, result);
    }

protected:
    virtual HRESULT Call(DISPPARAMS* params, VARIANT* result) = 0;

private:
    const wchar_t* name_;
    WORD kind_;
};

// The host's own globals: alert.
class HostGlobals : public OneMemberDispatch {
public:
    HostGlobals() : OneMemberDispatch(L"alert", DISPATCH_METHOD) {}

protected:
    HRESULT Call(DISPPARAMS* params, VARIANT*) override {
        std::wstring text;
        if (params && params->cArgs > 0) text = Show(params->rgvarg[params->cArgs - 1]);
        Print(L"alert: " + text);
        return S_OK;
    }
};

HostGlobals g_globals;

// A host object that lives for the whole run and answers two interfaces,
// the first also as IUnknown.
template <class First, const IID* FirstId, class Second, const IID* SecondId>
class RunLongPair : public First, public Second {
public:
    IFACEMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == *FirstId)
            *out = static_cast<First*>(this);
        else if (iid == *SecondId)
            *out = static_cast<Second*>(this);
        else
            return (*out = nullptr), E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    IFACEMETHODIMP_(ULONG) AddRef() override { return 2; }
    IFACEMETHODIMP_(ULONG) Release() override { return 1; }
};

// The page's site for --site: how the page's objects learn its address.
IOleClientSite* g_site = nullptr;

class Host;

// ---- event sink ---------------------------------------------------------

class EventSink : public trv::CountedDispatch {
public:
    EventSink(Host* host, std::wstring objectId, IID source, Ptr<ITypeInfo> sourceInfo)
        : CountedDispatch(source), host_(host), id_(std::move(objectId)), info_(sourceInfo) {}

    IFACEMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                          EXCEPINFO*, UINT*) override;

    DWORD cookie = 0;
    Ptr<IConnectionPoint> point;

private:
    Host* host_;
    std::wstring id_;
    Ptr<ITypeInfo> info_;
};

// ---- script site and the host -----------------------------------------

// The host lives on main()'s stack for the whole run.
class Host : public RunLongPair<IActiveScriptSite, &IID_IActiveScriptSite,
                                IActiveScriptSiteWindow, &IID_IActiveScriptSiteWindow> {
public:
    // IActiveScriptSite
    IFACEMETHODIMP GetLCID(LCID* lcid) override {
        if (!lcid) return E_POINTER;
        *lcid = GetUserDefaultLCID();
        return S_OK;
    }
    IFACEMETHODIMP GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** unk,
                               ITypeInfo** info) override {
        if (unk) *unk = nullptr;
        if (info) *info = nullptr;
        if (!name) return E_INVALIDARG;
        if (lstrcmpW(name, L"pagehost") == 0) {
            if (mask & SCRIPTINFO_IUNKNOWN) {
                if (!unk) return E_POINTER;
                *unk = static_cast<IDispatch*>(&g_globals);
                (*unk)->AddRef();
            }
            return S_OK;
        }
        for (auto& item : items_) {
            if (item.id != name) continue;
            if (mask & SCRIPTINFO_IUNKNOWN) {
                if (!unk) return E_POINTER;
                *unk = item.object.Get();
                (*unk)->AddRef();
            }
            if ((mask & SCRIPTINFO_ITYPEINFO) && info && item.classInfo) {
                *info = item.classInfo.Get();
                (*info)->AddRef();
            }
            return S_OK;
        }
        return TYPE_E_ELEMENTNOTFOUND;
    }
    IFACEMETHODIMP GetDocVersionString(BSTR*) override { return E_NOTIMPL; }
    IFACEMETHODIMP OnScriptTerminate(const VARIANT*, const EXCEPINFO*) override { return S_OK; }
    IFACEMETHODIMP OnStateChange(SCRIPTSTATE) override { return S_OK; }
    IFACEMETHODIMP OnScriptError(IActiveScriptError* error) override {
        ++g_scriptErrors;
        EXCEPINFO ei = {};
        DWORD context = 0;
        ULONG line = 0;
        LONG column = 0;
        if (error) {
            error->GetExceptionInfo(&ei);
            error->GetSourcePosition(&context, &line, &column);
        }
        if (ei.pfnDeferredFillIn) ei.pfnDeferredFillIn(&ei);
        std::wstring text = ei.bstrDescription ? ei.bstrDescription : L"unknown error";
        wchar_t where[64];
        swprintf(where, 64, L"(%lu,%ld)", line + 1, column + 1);
        const std::wstring source =
            context < g_sources.size() ? g_sources[context] : FromUtf8(g_pageName);
        Print(source + where + L": script error: " + text +
              (ei.scode ? L" [" + Hex(ei.scode) + L"]" : L""));
        SysFreeString(ei.bstrSource);
        SysFreeString(ei.bstrDescription);
        SysFreeString(ei.bstrHelpFile);
        return S_OK;
    }
    IFACEMETHODIMP OnEnterScript() override { return S_OK; }
    IFACEMETHODIMP OnLeaveScript() override { return S_OK; }

    // IActiveScriptSiteWindow: dialogs get the active window as owner.
    IFACEMETHODIMP GetWindow(HWND* window) override {
        if (!window) return E_POINTER;
        *window = GetActiveWindow();
        return S_OK;
    }
    IFACEMETHODIMP EnableModeless(BOOL) override { return S_OK; }

    int Run(const std::string& html, const std::vector<std::wstring>& calls);
    void DeliverEvent(const std::wstring& objectId, const std::wstring& eventName,
                      DISPPARAMS* params, VARIANT* result);

private:
    bool CreateObjects(const pagehost::Page& page);
    bool BindEvents(const pagehost::Page& page);
    void Parse(const std::wstring& code, int line, bool expression = false, DWORD source = 0);
    void RunSource(const pagehost::PageScript& script);
    void Shutdown();

    Ptr<IActiveScript> script_;
    Ptr<IActiveScriptParse> parse_;
    std::vector<PageItem> items_;
    std::vector<EventSink*> sinks_;
    std::map<std::wstring, std::wstring> handlers_;  // "id.Event" -> function name
};

IFACEMETHODIMP EventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params,
                                 VARIANT* result, EXCEPINFO*, UINT*) {
    BSTR name = nullptr;
    UINT got = 0;
    std::wstring eventName;
    if (info_ && SUCCEEDED(info_->GetNames(id, &name, 1, &got)) && got == 1) {
        eventName.assign(name, SysStringLen(name));
        SysFreeString(name);
    } else {
        eventName = L"#" + std::to_wstring(id);
    }
    if (result) VariantInit(result);
    host_->DeliverEvent(id_, eventName, params, result);
    return S_OK;  // a failing handler must not fail the object's firing
}

void Host::DeliverEvent(const std::wstring& objectId, const std::wstring& eventName,
                        DISPPARAMS* params, VARIANT* result) {
    if (g_trace) {
        std::wstring args;
        for (UINT i = params ? params->cArgs : 0; i > 0; --i) {
            if (!args.empty()) args += L", ";
            args += L"\"" + Show(params->rgvarg[i - 1]) + L"\"";
        }
        Print(L"event: " + objectId + L"." + eventName + L"(" + args + L")");
    }
    auto handler = handlers_.find(objectId + L"." + eventName);
    if (handler == handlers_.end()) return;
    Ptr<IDispatch> globals;
    if (FAILED(script_->GetScriptDispatch(nullptr, globals.Out())) || !globals) return;
    LPOLESTR fn = const_cast<LPOLESTR>(handler->second.c_str());
    DISPID dispid = DISPID_UNKNOWN;
    if (FAILED(globals->GetIDsOfNames(IID_NULL, &fn, 1, LOCALE_USER_DEFAULT, &dispid))) return;
    DISPPARAMS none = {};
    EXCEPINFO ei = {};
    // Script arguments keep the order the object fired them in.
    const HRESULT hr = globals->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                       params ? params : &none, result, &ei, nullptr);
    if (FAILED(hr) && hr != DISP_E_EXCEPTION) {
        ++g_scriptErrors;
        Print(L"pagehost: handler " + objectId + L"." + eventName + L" failed " + Hex(hr));
    } else if (hr == DISP_E_EXCEPTION) {
        ++g_scriptErrors;
        Print(FromUtf8(g_pageName) + L": script error in handler " + objectId + L"." + eventName +
              L": " + (ei.bstrDescription ? ei.bstrDescription : L"exception"));
    }
    SysFreeString(ei.bstrSource);
    SysFreeString(ei.bstrDescription);
    SysFreeString(ei.bstrHelpFile);
}

bool Host::CreateObjects(const pagehost::Page& page) {
    for (const auto& obj : page.objects) {
        PageItem item;
        item.id = FromUtf8(obj.id);
        std::wstring classid = FromUtf8(obj.classid);
        if (item.id.empty() || _wcsnicmp(classid.c_str(), L"clsid:", 6) != 0) {
            Print(FromUtf8(g_pageName) + L"(" + std::to_wstring(obj.line) +
                  L"): object without id or clsid, skipped");
            continue;
        }
        std::wstring guid = classid.substr(6);
        if (!guid.empty() && guid[0] != L'{') guid = L"{" + guid + L"}";
        CLSID clsid;
        HRESULT hr = CLSIDFromString(const_cast<LPOLESTR>(guid.c_str()), &clsid);
        if (SUCCEEDED(hr)) hr = CreatePageObject(clsid, item.object.Out());
        if (FAILED(hr)) {
            Print(FromUtf8(g_pageName) + L"(" + std::to_wstring(obj.line) +
                  L"): cannot create object " + item.id + L" " + guid + L": " + Hex(hr));
            return false;
        }
        if (FAILED(item.object.As(item.dispatch, IID_IDispatch))) {
            Print(L"pagehost: object " + item.id + L" is not scriptable (no IDispatch)");
            return false;
        }
        // Like the browser, ask the object to be safe for untrusted callers.
        Ptr<IObjectSafety> safety;
        if (SUCCEEDED(item.object.As(safety, IID_IObjectSafety))) {
            const DWORD want = INTERFACESAFE_FOR_UNTRUSTED_CALLER;
            hr = safety->SetInterfaceSafetyOptions(IID_IDispatch, want, want);
            if (FAILED(hr))
                Print(L"pagehost: object " + item.id + L" refused safe scripting " + Hex(hr));
        }
        if (g_site && SUCCEEDED(item.object.As(item.sited, IID_IObjectWithSite)))
            item.sited->SetSite(g_site);
        Ptr<IProvideClassInfo> pci;
        if (SUCCEEDED(item.object.As(pci, IID_IProvideClassInfo)))
            pci->GetClassInfo(item.classInfo.Out());
        if (g_trace) Print(L"object: " + item.id + L" " + guid);
        items_.push_back(item);
    }
    return true;
}

// The default source interface of a coclass, with its type description.
static bool FindSource(ITypeInfo* coclass, IID& iid, Ptr<ITypeInfo>& info) {
    TYPEATTR* attr = nullptr;
    if (!coclass || FAILED(coclass->GetTypeAttr(&attr))) return false;
    const UINT count = attr->cImplTypes;
    coclass->ReleaseTypeAttr(attr);
    for (UINT i = 0; i < count; ++i) {
        INT flags = 0;
        if (FAILED(coclass->GetImplTypeFlags(i, &flags))) continue;
        if ((flags & (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE)) !=
            (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE))
            continue;
        HREFTYPE ref = 0;
        if (FAILED(coclass->GetRefTypeOfImplType(i, &ref))) continue;
        if (FAILED(coclass->GetRefTypeInfo(ref, info.Out()))) continue;
        TYPEATTR* src = nullptr;
        if (FAILED(info->GetTypeAttr(&src))) continue;
        iid = src->guid;
        info->ReleaseTypeAttr(src);
        return true;
    }
    return false;
}

bool Host::BindEvents(const pagehost::Page& page) {
    int serial = 0;
    for (const auto& s : page.scripts) {
        if (s.forId.empty() || s.eventName.empty() || !pagehost::IsJScript(s.language)) continue;
        const std::wstring id = FromUtf8(s.forId);
        const std::wstring fn = L"__pagehost_event_" + std::to_wstring(++serial);
        // Same first line as the block, so error lines match the page.
        Parse(L"function " + fn + L"(" + FromUtf8(s.eventArgs) + L") {" + FromUtf8(s.text) +
                  L"\n}",
              s.line);
        handlers_[id + L"." + FromUtf8(s.eventName)] = fn;
    }
    for (auto& item : items_) {
        bool wanted = false;
        for (const auto& h : handlers_) wanted = wanted || h.first.rfind(item.id + L".", 0) == 0;
        if (!wanted) continue;
        IID source = IID_NULL;
        Ptr<ITypeInfo> sourceInfo;
        if (!FindSource(item.classInfo.Get(), source, sourceInfo)) {
            Ptr<IProvideClassInfo2> pci2;
            if (FAILED(item.object.As(pci2, IID_IProvideClassInfo2)) ||
                FAILED(pci2->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source))) {
                Print(L"pagehost: object " + item.id + L" has no event source; handlers not bound");
                continue;
            }
        }
        Ptr<IConnectionPointContainer> cpc;
        Ptr<IConnectionPoint> cp;
        HRESULT hr = item.object.As(cpc, IID_IConnectionPointContainer);
        if (SUCCEEDED(hr)) hr = cpc->FindConnectionPoint(source, cp.Out());
        EventSink* sink = new EventSink(this, item.id, source, sourceInfo);
        if (SUCCEEDED(hr)) hr = cp->Advise(static_cast<IDispatch*>(sink), &sink->cookie);
        if (FAILED(hr)) {
            sink->Release();
            Print(L"pagehost: cannot connect to the events of " + item.id + L": " + Hex(hr));
            return false;
        }
        sink->point = cp;
        sinks_.push_back(sink);
    }
    return true;
}

void Host::Parse(const std::wstring& code, int line, bool expression, DWORD source) {
    EXCEPINFO ei = {};
    VARIANT result;
    VariantInit(&result);
    // Errors arrive through OnScriptError; nothing more to report here.
    parse_->ParseScriptText(code.c_str(), nullptr, nullptr, nullptr, source,
                            static_cast<ULONG>(line > 0 ? line - 1 : 0),
                            expression ? SCRIPTTEXT_ISEXPRESSION : SCRIPTTEXT_ISVISIBLE,
                            expression ? &result : nullptr, &ei);
    VariantClear(&result);
    SysFreeString(ei.bstrSource);
    SysFreeString(ei.bstrDescription);
    SysFreeString(ei.bstrHelpFile);
}

// <script src="...">: a file beside the page, run as a block in document
// order. Addresses of servers are not fetched; the block is skipped.
void Host::RunSource(const pagehost::PageScript& script) {
    std::wstring src = FromUtf8(script.src);
    const std::wstring where = FromUtf8(g_pageName) + L"(" + std::to_wstring(script.line) + L"): ";
    src = src.substr(0, src.find_first_of(L"?#"));
    if (src.empty() || src.find(L':') != std::wstring::npos || src[0] == L'/' || src[0] == L'\\') {
        Print(where + L"script source " + FromUtf8(script.src) +
              L" is not a file beside the page, block skipped");
        return;
    }
    std::string code;
    if (!ReadWholeFile(g_pageDir + src, code)) {
        ++g_scriptErrors;
        Print(where + L"cannot read script " + src);
        return;
    }
    const std::size_t slash = src.find_last_of(L"\\/");
    g_sources.push_back(slash == std::wstring::npos ? src : src.substr(slash + 1));
    Parse(FromUtf8(code), 1, false, static_cast<DWORD>(g_sources.size() - 1));
}

void Host::Shutdown() {
    for (EventSink* sink : sinks_) {
        if (sink->point) sink->point->Unadvise(sink->cookie);
        sink->point.Reset();
        sink->Release();
    }
    sinks_.clear();
    if (script_) script_->Close();
    parse_.Reset();
    script_.Reset();
    for (auto& item : items_)
        if (item.sited) item.sited->SetSite(nullptr);
    items_.clear();
}

int Host::Run(const std::string& html, const std::vector<std::wstring>& calls) {
    const pagehost::Page page = pagehost::ParsePage(html);
    CLSID jscript;
    HRESULT hr = CLSIDFromProgID(L"JScript", &jscript);
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(jscript, nullptr, CLSCTX_INPROC_SERVER, IID_IActiveScript,
                              reinterpret_cast<void**>(script_.Out()));
    if (SUCCEEDED(hr)) hr = script_.As(parse_, kIID_IActiveScriptParse);
    if (SUCCEEDED(hr)) hr = script_->SetScriptSite(static_cast<IActiveScriptSite*>(this));
    if (SUCCEEDED(hr)) hr = parse_->InitNew();
    if (FAILED(hr)) {
        Print(L"pagehost: the JScript engine is not available: " + Hex(hr));
        return 2;
    }
    if (!CreateObjects(page)) {
        Shutdown();
        return 2;
    }
    script_->AddNamedItem(L"pagehost", SCRIPTITEM_ISVISIBLE | SCRIPTITEM_GLOBALMEMBERS);
    for (const auto& item : items_)
        script_->AddNamedItem(item.id.c_str(), SCRIPTITEM_ISVISIBLE | SCRIPTITEM_ISSOURCE);
    if (!BindEvents(page)) {
        Shutdown();
        return 2;
    }
    script_->SetScriptState(SCRIPTSTATE_CONNECTED);
    for (const auto& s : page.scripts) {
        if (!s.forId.empty()) continue;
        if (!pagehost::IsJScript(s.language)) {
            Print(FromUtf8(g_pageName) + L"(" + std::to_wstring(s.line) +
                  L"): script language not supported, block skipped");
            continue;
        }
        if (s.src.empty())
            Parse(FromUtf8(s.text), s.line);
        else
            RunSource(s);
    }
    for (const auto& fn : calls) {
        if (g_scriptErrors) break;
        Ptr<IDispatch> globals;
        DISPID dispid = DISPID_UNKNOWN;
        LPOLESTR name = const_cast<LPOLESTR>(fn.c_str());
        hr = script_->GetScriptDispatch(nullptr, globals.Out());
        if (SUCCEEDED(hr))
            hr = globals->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &dispid);
        if (FAILED(hr)) {
            Print(L"pagehost: the page has no function " + fn);
            ++g_scriptErrors;
            break;
        }
        DISPPARAMS none = {};
        EXCEPINFO ei = {};
        VARIANT result;
        VariantInit(&result);
        hr = globals->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none,
                             &result, &ei, nullptr);
        if (FAILED(hr)) {
            ++g_scriptErrors;
            Print(FromUtf8(g_pageName) + L": script error in " + fn + L": " +
                  (ei.bstrDescription ? ei.bstrDescription : Hex(hr)));
        }
        VariantClear(&result);
        SysFreeString(ei.bstrSource);
        SysFreeString(ei.bstrDescription);
        SysFreeString(ei.bstrHelpFile);
    }
    Shutdown();
    return g_scriptErrors ? 1 : 0;
}

bool ReadWholeFile(const std::wstring& path, std::string& out) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    char buf[8192];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(f, buf, sizeof buf, &got, nullptr) != FALSE) && got) out.append(buf, got);
    CloseHandle(f);
    if (out.size() >= 3 && out.compare(0, 3, "\xEF\xBB\xBF") == 0) out.erase(0, 3);
    return ok;
}

}  // namespace

int wmain() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::wstring pagePath;
    std::vector<std::wstring> calls;
    std::optional<std::wstring> document, domain;
    for (int i = 1; argv && i < argc; ++i) {
        const std::wstring a = argv[i];
        if (a == L"--call" && i + 1 < argc)
            calls.push_back(argv[++i]);
        else if (a == L"--trace")
            g_trace = true;
        else if (a == L"--site" && i + 1 < argc)
            g_siteUrl = argv[++i];
        else if (a == L"--document" && i + 1 < argc)
            document = argv[++i];
        else if (a == L"--domain" && i + 1 < argc)
            domain = argv[++i];
        else if (a == L"--module" && i + 1 < argc)
            g_modulePath = argv[++i];
        else if (pagePath.empty() && a.rfind(L"--", 0) != 0)
            pagePath = a;
        else {
            Print(L"pagehost: unknown argument " + a);
            return 2;
        }
    }
    if (argv) LocalFree(argv);
    if (pagePath.empty()) {
        Print(L"usage: pagehost PAGE.html [--call Function]... [--trace] [--site URL]"
              L" [--document URL|none] [--domain NAME] [--module DLL]");
        return 2;
    }
    const std::size_t slash = pagePath.find_last_of(L"\\/");
    const std::wstring pageName = slash == std::wstring::npos ? pagePath : pagePath.substr(slash + 1);
    g_pageName = trv::NarrowUtf8(pageName.data(), pageName.size());
    g_pageDir = slash == std::wstring::npos ? std::wstring() : pagePath.substr(0, slash + 1);
    g_sources.push_back(FromUtf8(g_pageName));
    std::string html;
    if (!ReadWholeFile(pagePath, html)) {
        Print(L"pagehost: cannot read " + pagePath);
        return 2;
    }
    if (FAILED(CoInitialize(nullptr))) {
        Print(L"pagehost: COM could not start");
        return 2;
    }
    int code = 2;
    if (!document) document = g_siteUrl;
    if (*document == L"none") document.reset();
    IOleContainer* page = domain ? trv::NewPageDocument(*domain) : nullptr;
    if ((domain && !page) ||
        (!g_siteUrl.empty() && !(g_site = trv::NewPageSite(g_siteUrl, document, page)))) {
        Print(L"pagehost: out of memory");
        if (page) page->Release();
        CoUninitialize();
        return 2;
    }
    if (page) page->Release();
    {
        Host host;
        code = host.Run(html, calls);
    }
    if (g_site) g_site->Release();
    CoUninitialize();
    return code;
}
