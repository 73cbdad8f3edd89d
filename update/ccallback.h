// The download status callback: shows the installer's progress on the dialog
// and reads the HTTP status, because URLDownloadToFileA reports success for
// an error page it has saved.
#pragma once

#include <windows.h>
#include <urlmon.h>

#include <string>

namespace trv {

// Not reference-counted: it lives on the stack of one download.
class CCallback : public IBindStatusCallback, public IHttpNegotiate {
public:
    // dialog: where OnProgress shows the progress; nullptr shows nothing.
    explicit CCallback(HWND dialog) : m_hDlg(dialog) {}
    CCallback(const CCallback&) = delete;
    CCallback& operator=(const CCallback&) = delete;
    virtual ~CCallback() = default;

    // IUnknown
    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    IFACEMETHODIMP_(ULONG) AddRef() override { return 0; }
    IFACEMETHODIMP_(ULONG) Release() override { return 0; }

    // IBindStatusCallback
    IFACEMETHODIMP OnStartBinding(DWORD, IBinding*) override { return E_NOTIMPL; }
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

    // 0 until a response has arrived.
    DWORD HttpStatus() const { return m_httpStatus; }
    // The last counts OnProgress saw.
    ULONG Received() const { return m_received; }
    ULONG Announced() const { return m_announced; }

private:
    HWND m_hDlg;
    DWORD m_httpStatus = 0;
    ULONG m_received = 0;
    ULONG m_announced = 0;
};

// Drops the URL's cache entry, then fetches it into target, blocking.
// Succeeds only when the transfer succeeded, the server answered below 400
// and, if it announced a size, all of it arrived.
bool DownloadUpdateFile(const std::string& url, const std::string& target, HWND progressDialog);

}  // namespace trv
