#include "com_support.h"

#include <atomic>
#include <cstring>
#include <thread>

namespace trv::comtest {

const wchar_t* const kMethodNames[12] = {
    L"CheckInstall", L"AllowPopUp",   L"ShowUpFileDlg", L"SelectComplete",
    L"UpLoadInit",   L"UpLoadInfo",   L"UpLoadEnd",     L"DownLoadInit",
    L"DownLoadInfo", L"DownLoadEnd",  L"LauncherExplorer", L"LauncherWebLink"};

HRESULT CreateControl(REFIID iid, void** out) {
    CLSID clsid;
    const HRESULT hr = CLSIDFromProgID(L"WebControl.TARVOSK.1", &clsid);
    if (FAILED(hr)) return hr;
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, out);
}

Ptr<IDispatch> CreateDispatch() {
    Ptr<IDispatch> object;
    CreateControl(IID_IDispatch, object.PutVoid());
    return object;
}

HRESULT CallByName(IDispatch* object, const wchar_t* name, const std::vector<std::wstring>& args,
                   VARIANT* result) {
    DISPID dispid = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &dispid);
    if (FAILED(hr)) return hr;
    std::vector<VARIANT> argv(args.size());
    for (std::size_t i = 0; i < args.size(); ++i) {
        VARIANT& v = argv[args.size() - 1 - i];  // last argument first
        VariantInit(&v);
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocStringLen(args[i].data(), static_cast<UINT>(args[i].size()));
    }
    DISPPARAMS params = {argv.empty() ? nullptr : argv.data(), nullptr,
                         static_cast<UINT>(argv.size()), 0};
    hr = object->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result,
                        nullptr, nullptr);
    for (VARIANT& v : argv) VariantClear(&v);
    return hr;
}

namespace {

BOOL CALLBACK FindOwnDialog(HWND window, LPARAM found) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char cls[64] = {};
    GetClassNameA(window, cls, sizeof cls);
    if (pid == GetCurrentProcessId() && std::strcmp(cls, "#32770") == 0 && IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HRESULT CallCancellingDialog(IDispatch* object, const wchar_t* name, DWORD timeoutMs, bool* closed) {
    std::atomic<bool> done{false};
    std::thread closer([&] {
        for (const DWORD start = GetTickCount(); !done && GetTickCount() - start < timeoutMs;) {
            HWND found = nullptr;
            EnumWindows(FindOwnDialog, reinterpret_cast<LPARAM>(&found));
            if (found) done = PostMessageA(found, WM_COMMAND, IDCANCEL, 0) != FALSE;
            if (!done) Sleep(100);
        }
    });
    const HRESULT hr = CallByName(object, name, {});
    closer.join();
    *closed = done;
    return hr;
}

HRESULT CanUnloadNow() {
    HMODULE module = GetModuleHandleW(L"TRVControl.DLL");
    if (!module) return E_UNEXPECTED;
    auto fn = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    return fn ? fn() : E_UNEXPECTED;
}

IFACEMETHODIMP Sink::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        (m_answers && IsEqualIID(iid, DIID__IWebBBSEvents))) {
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

IFACEMETHODIMP Sink::Invoke(DISPID dispid, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                            VARIANT* result, EXCEPINFO* exception, UINT* argError) {
    Event event{dispid, {}, {}};
    lastIid = iid;
    lastLcid = lcid;
    lastFlags = flags;
    lastHadOutputs = result || exception || argError;
    lastNamedArgs = params ? params->cNamedArgs : 99;
    if (params) {
        for (UINT i = 0; i < params->cArgs; ++i) event.types.push_back(params->rgvarg[i].vt);
        for (UINT i = params->cArgs; i-- > 0;) {
            const VARIANT& v = params->rgvarg[i];
            event.args.push_back(v.vt == VT_BSTR && v.bstrVal
                                     ? std::wstring(v.bstrVal, SysStringLen(v.bstrVal))
                                     : std::wstring(L"<null>"));
        }
    }
    events.push_back(event);
    if (calls) calls->push_back(id);
    if (onEvent) onEvent(*this);
    return answer;
}

}  // namespace trv::comtest
