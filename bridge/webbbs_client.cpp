#include "bridge/webbbs_client.h"

#include <objsafe.h>
#include <ocidl.h>
#include <oleauto.h>

#include <cmath>
#include <new>

#include "bridge/protocol.h"
#include "platform/win32/dispatch_base.h"
#include "platform/win32/page_site.h"
#include "platform/win32/wide_text.h"
#include "server/WebControl.h"

namespace trv::bridge {
namespace {

constexpr DISPID kAllowPopUp = 2;

// The methods that can open a dialog: the selection dialog, and the calls
// the client check guards (it may run the install/update dialog).
bool MayShowDialog(DISPID id) {
    switch (id) {
        case 3:   // ShowUpFileDlg
        case 5:   // UpLoadInit
        case 7:   // UpLoadEnd
        case 8:   // DownLoadInit
        case 10:  // DownLoadEnd
        case 11:  // LauncherExplorer
        case 12:  // LauncherWebLink
            return true;
        default:
            return false;
    }
}
constexpr DISPID kInstallCompleteEvent = 1;
constexpr DISPID kUpSelectComplete = 2;

std::string VariantText(const VARIANT& v) {
    if (V_VT(&v) == VT_BSTR) return NarrowUtf8(V_BSTR(&v), SysStringLen(V_BSTR(&v)));
    UniqueVariant s;
    if (FAILED(VariantChangeType(&s, const_cast<VARIANT*>(&v), 0, VT_BSTR))) return std::string();
    return NarrowUtf8(V_BSTR(&s), SysStringLen(V_BSTR(&s)));
}

// The argument as the page's script engine would pass it. Arrays and objects
// have no such form: false.
bool ToVariant(const Value& arg, VARIANT& v) {
    VariantInit(&v);
    switch (arg.kind) {
    case Value::Kind::String: {
        const std::wstring wide = WidenUtf8(arg.text);
        V_VT(&v) = VT_BSTR;
        V_BSTR(&v) = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
        return V_BSTR(&v) != nullptr;
    }
    case Value::Kind::Number:
        if (arg.number == std::floor(arg.number) && arg.number >= -2147483648.0 &&
            arg.number <= 2147483647.0) {
            V_VT(&v) = VT_I4;
            V_I4(&v) = static_cast<LONG>(arg.number);
        } else {
            V_VT(&v) = VT_R8;
            V_R8(&v) = arg.number;
        }
        return true;
    case Value::Kind::Bool:
        V_VT(&v) = VT_BOOL;
        V_BOOL(&v) = arg.boolean ? VARIANT_TRUE : VARIANT_FALSE;
        return true;
    case Value::Kind::Null: V_VT(&v) = VT_NULL; return true;
    default: return false;
    }
}

}  // namespace

std::string RegisteredModuleVersion() {
    UniqueHkey key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT,
                      L"CLSID\\{B679444B-C4D3-47D8-94B6-A31C1DAE6668}\\InprocServer32", 0,
                      KEY_QUERY_VALUE, key.Put()) != ERROR_SUCCESS)
        return std::string();
    wchar_t raw[MAX_PATH + 2] = {};
    DWORD type = 0, size = sizeof raw - sizeof(wchar_t);
    if (RegQueryValueExW(key.Get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(raw),
                         &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::string();
    raw[size / sizeof(wchar_t)] = L'\0';
    wchar_t path[MAX_PATH] = {};
    const DWORD n = ExpandEnvironmentStringsW(raw, path, MAX_PATH);
    if (n == 0 || n > MAX_PATH) return std::string();
    std::wstring file = path;
    if (file.size() >= 2 && file.front() == L'"' && file.back() == L'"')
        file = file.substr(1, file.size() - 2);
    DWORD ignored = 0;
    const DWORD infoSize = GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (infoSize == 0) return std::string();
    std::string info(infoSize, '\0');
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    if (!GetFileVersionInfoW(file.c_str(), 0, infoSize, &info[0]) ||
        !VerQueryValueW(&info[0], L"\\", reinterpret_cast<void**>(&fixed), &fixedSize) ||
        !fixed || fixedSize < sizeof *fixed)
        return std::string();
    return std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
           std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." +
           std::to_string(LOWORD(fixed->dwFileVersionLS));
}

// The object's two events, as messages.
class WebBBSClient::Sink : public CountedDispatch {
public:
    explicit Sink(EventOut out) : CountedDispatch(DIID__IWebBBSEvents), m_out(std::move(out)) {}

    IFACEMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                          EXCEPINFO*, UINT*) override {
        if (result) VariantInit(result);
        const UINT count = params && params->rgvarg ? params->cArgs : 0;
        std::vector<std::string> args;
        // rgvarg holds the arguments last first.
        for (UINT i = count; i > 0; --i) args.push_back(VariantText(params->rgvarg[i - 1]));
        if (id == kInstallCompleteEvent && count == 0)
            m_out(EventMessage("InstallCompleteEvent", args));
        else if (id == kUpSelectComplete && count == 3)
            m_out(EventMessage("UpSelectComplete", args));
        return S_OK;
    }

private:
    EventOut m_out;
};

WebBBSClient::WebBBSClient(EventOut events) : m_sink(new (std::nothrow) Sink(std::move(events))) {}

WebBBSClient::~WebBBSClient() {
    if (m_point) m_point->Unadvise(m_cookie);
    m_point.Reset();
    if (m_sited) m_sited->SetSite(nullptr);
    m_sited.Reset();
    m_object.Reset();
    if (m_sink) m_sink->Release();
}

HRESULT WebBBSClient::Create() {
    ComPtr<IDispatch> object;
    m_created = CoCreateInstance(CLSID_WebBBS, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                 object.PutVoid());
    if (FAILED(m_created)) return m_created;
    // Like the browser: the page is an untrusted caller, and an object that
    // will not be scripted as one is not scripted at all.
    ComPtr<IObjectSafety> safety;
    const DWORD untrusted = INTERFACESAFE_FOR_UNTRUSTED_CALLER;
    if (FAILED(object.As(IID_IObjectSafety, safety)) ||
        FAILED(safety->SetInterfaceSafetyOptions(IID_IDispatch, untrusted, untrusted)))
        return m_created = E_ACCESSDENIED;
    ComPtr<IConnectionPointContainer> points;
    if (!m_sink) return m_created = E_OUTOFMEMORY;
    m_created = object.As(IID_IConnectionPointContainer, points);
    if (SUCCEEDED(m_created))
        m_created = points->FindConnectionPoint(DIID__IWebBBSEvents, m_point.Put());
    if (SUCCEEDED(m_created)) m_created = m_point->Advise(m_sink, &m_cookie);
    if (FAILED(m_created)) {
        m_point.Reset();
        return m_created;
    }
    // Only a site-locked module takes a site; the default one refuses.
    object.As(IID_IObjectWithSite, m_sited);
    m_object = object;
    return m_created;
}

HRESULT WebBBSClient::Call(const std::wstring& url, const std::string& method,
                           const std::vector<Value>& args, std::string& result,
                           bool& hasResult, const std::function<void()>& beforeDialog) {
    hasResult = false;
    if (!m_object) return m_created;
    // Only the twelve: the type description also names the members the
    // dual interface inherits (Release, Invoke, ...), which a page never calls.
    const DISPID id = MethodDispid(method);
    if (id == 0) return DISP_E_UNKNOWNNAME;
    HRESULT hr = S_OK;
    // Pop-ups on this path are the browser's business; the old browser's
    // allow list is never written from here.
    if (id == kAllowPopUp) return S_FALSE;
    std::vector<VARIANT> params(args.size());
    bool converted = true;
    UINT built = 0;
    for (; built < args.size() && converted; ++built)
        converted = ToVariant(args[args.size() - 1 - built], params[built]);
    if (converted) {
        if (m_sited && !m_sitePlaced) {
            IOleClientSite* site = NewPageSite(url);
            if (!site) return E_OUTOFMEMORY;
            hr = m_sited->SetSite(site);
            site->Release();
            if (FAILED(hr)) return hr;
            m_sitePlaced = true;
        }
        if (MayShowDialog(id)) beforeDialog();
        DISPPARAMS call = {params.empty() ? nullptr : params.data(), nullptr,
                           static_cast<UINT>(params.size()), 0};
        UniqueVariant out;
        EXCEPINFO error = {};
        UINT argError = 0;
        hr = m_object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &call, &out,
                              &error, &argError);
        if (hr == DISP_E_EXCEPTION) {
            if (error.pfnDeferredFillIn) error.pfnDeferredFillIn(&error);
            if (FAILED(error.scode)) hr = error.scode;
        }
        SysFreeString(error.bstrSource);
        SysFreeString(error.bstrDescription);
        SysFreeString(error.bstrHelpFile);
        if (V_VT(&out) != VT_EMPTY && V_VT(&out) != VT_NULL) {
            result = VariantText(out);
            hasResult = true;
        }
    } else {
        // An array or object has no form the object's methods take.
        hr = DISP_E_TYPEMISMATCH;
    }
    for (UINT i = 0; i < built; ++i) VariantClear(&params[i]);
    return hr;
}

}  // namespace trv::bridge
