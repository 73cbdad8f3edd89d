// The download status callback and the bounded fetch around it. The callback
// reports progress, reads the HTTP status (URLDownloadToFileA reports
// success for an error page it has saved), and keeps the binding so that a
// fetch that stalls can be aborted from the thread waiting for it.
#pragma once

#include <windows.h>
#include <urlmon.h>

#include <cstdint>
#include <functional>
#include <string>

#include "platform/update_platform.h"

namespace trv {

struct Transfer;

// Not reference-counted: it lives as long as the transfer it reports on.
class CCallback : public IBindStatusCallback, public IHttpNegotiate {
public:
    explicit CCallback(Transfer& transfer) : m_transfer(transfer) {}
    CCallback(const CCallback&) = delete;
    CCallback& operator=(const CCallback&) = delete;
    virtual ~CCallback() = default;

    // IUnknown
    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    IFACEMETHODIMP_(ULONG) AddRef() override { return 0; }
    IFACEMETHODIMP_(ULONG) Release() override { return 0; }

    // IBindStatusCallback
    IFACEMETHODIMP OnStartBinding(DWORD, IBinding* pib) override;
    IFACEMETHODIMP GetPriority(LONG*) override { return E_NOTIMPL; }
    IFACEMETHODIMP OnLowResource(DWORD) override { return E_NOTIMPL; }
    IFACEMETHODIMP OnProgress(ULONG ulProgress, ULONG ulProgressMax, ULONG ulStatusCode,
                              LPCWSTR szStatusText) override;
    IFACEMETHODIMP OnStopBinding(HRESULT, LPCWSTR) override { return E_NOTIMPL; }
    IFACEMETHODIMP GetBindInfo(DWORD*, BINDINFO*) override { return E_NOTIMPL; }
    IFACEMETHODIMP OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override {
        return E_NOTIMPL;
    }
    IFACEMETHODIMP OnObjectAvailable(REFIID, IUnknown*) override { return E_NOTIMPL; }

    // IHttpNegotiate
    IFACEMETHODIMP BeginningTransaction(LPCWSTR, LPCWSTR, DWORD,
                                        LPWSTR* pszAdditionalHeaders) override;
    IFACEMETHODIMP OnResponse(DWORD dwResponseCode, LPCWSTR, LPCWSTR,
                              LPWSTR* pszAdditionalRequestHeaders) override;

private:
    Transfer& m_transfer;
};

// Called on the fetching thread with the bytes received and announced (0: no size).
using ProgressSink = std::function<void(std::uint32_t received, std::uint32_t announced)>;

// Drops the URL's cache entry, then fetches it into target on a thread of
// its own while this thread waits: the fetch ends when no byte has come for
// limits.stallMs, at limits.totalMs after the request, when the body passes
// limits.maxBytes, whatever the server does, or as soon as cancel (an event,
// may be null) is set. Only a whole answer below HTTP 400 replaces target.
// pumpSent: the waiting thread owns windows and keeps answering messages
// other threads send it; nothing posted is dispatched but in a program that
// asks for its whole queue to be served (platform/win32/serving_wait.h).
DownloadResult DownloadUpdateFile(const std::string& url, const std::string& target,
                                  const DownloadLimits& limits, const ProgressSink& progress,
                                  bool pumpSent, HANDLE cancel = nullptr);

}  // namespace trv
