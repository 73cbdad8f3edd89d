// The native host's side of the object: one WebBBS from the registered class,
// called by name through IDispatch, its events handed on as messages.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "bridge/json.h"
#include "platform/win32/com_util.h"

namespace trv::bridge {

// The registered module's version record ("1.0.0.5"), empty when there is none.
std::string RegisteredModuleVersion();

class WebBBSClient {
public:
    // Receives each event as a finished message, while the call that fired it runs.
    using EventOut = std::function<void(const std::string& message)>;

    explicit WebBBSClient(EventOut events);
    ~WebBBSClient();
    WebBBSClient(const WebBBSClient&) = delete;
    WebBBSClient& operator=(const WebBBSClient&) = delete;

    // Creates the object; what Call answers when this failed.
    HRESULT Create();
    // Only the twelve methods, by name; the object's IDispatch decides about
    // the count and the kinds;
    // `url` is the page's address, the object's site from the first call on.
    // `beforeDialog` runs first when the method can open a dialog.
    HRESULT Call(const std::wstring& url, const std::string& method,
                 const std::vector<Value>& args, std::string& result, bool& hasResult,
                 const std::function<void()>& beforeDialog);

private:
    class Sink;
    ComPtr<IDispatch> m_object;
    HRESULT m_created = E_UNEXPECTED;
    Sink* m_sink = nullptr;
    ComPtr<IConnectionPoint> m_point;
    DWORD m_cookie = 0;
    ComPtr<IObjectWithSite> m_sited;
    bool m_sitePlaced = false;
};


}  // namespace trv::bridge
