#include "update/ccallback.h"

#include <shlwapi.h>
#include <wininet.h>

#include "update/file_update_window.h"
#include "update/update_flow.h"

namespace trv {

IFACEMETHODIMP CCallback::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    // The status callback is asked for IHttpNegotiate; that is how the HTTP
    // status reaches us. Nothing else is handed out.
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IBindStatusCallback)) {
        *ppv = static_cast<IBindStatusCallback*>(this);
        return S_OK;
    }
    if (IsEqualIID(riid, IID_IHttpNegotiate)) {
        *ppv = static_cast<IHttpNegotiate*>(this);
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

IFACEMETHODIMP CCallback::OnProgress(ULONG ulProgress, ULONG ulProgressMax, ULONG, LPCWSTR) {
    m_received = ulProgress;
    m_announced = ulProgressMax;
    if (m_hDlg) {
        const ProgressDisplay display =
            MakeProgressDisplay(ulProgress, ulProgressMax, [](std::uint32_t bytes) {
                char buffer[256] = {};
                StrFormatByteSizeA(bytes, buffer, sizeof buffer);
                return std::string(buffer);
            });
        FileUpdateWindow::ShowProgress(m_hDlg, display.text, display.percent);
    }
    return S_OK;
}

IFACEMETHODIMP CCallback::BeginningTransaction(LPCWSTR, LPCWSTR, DWORD,
                                               LPWSTR* pszAdditionalHeaders) {
    if (pszAdditionalHeaders) *pszAdditionalHeaders = nullptr;
    return S_OK;
}

IFACEMETHODIMP CCallback::OnResponse(DWORD dwResponseCode, LPCWSTR, LPCWSTR,
                                     LPWSTR* pszAdditionalRequestHeaders) {
    if (pszAdditionalRequestHeaders) *pszAdditionalRequestHeaders = nullptr;
    m_httpStatus = dwResponseCode;
    return S_OK;
}

bool DownloadUpdateFile(const std::string& url, const std::string& target, HWND progressDialog) {
    // A cached copy would hide a new version on the server.
    DeleteUrlCacheEntryA(url.c_str());
    // Fetched beside the target and moved over it only when good: an error
    // page or a cut-short body never takes the place of the file, and an
    // earlier copy survives a failed fetch.
    const std::string part = target + ".download";
    DeleteFileA(part.c_str());
    CCallback callback(progressDialog);
    const HRESULT hr = URLDownloadToFileA(nullptr, url.c_str(), part.c_str(), 0, &callback);
    const bool ok = SUCCEEDED(hr) && callback.HttpStatus() < 400 &&
                    (callback.Announced() == 0 || callback.Received() >= callback.Announced()) &&
                    MoveFileExA(part.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
    if (!ok) DeleteFileA(part.c_str());
    return ok;
}

}  // namespace trv
