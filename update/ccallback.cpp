#include "update/ccallback.h"

#include <wininet.h>

#include <atomic>
#include <memory>
#include <new>

#include "platform/win32/com_util.h"
#include "platform/win32/module_hold.h"
#include "platform/win32/serving_wait.h"
#include "update/update_flow.h"

namespace trv {

// One fetch, shared by the thread that runs it and the thread that waits for
// it; either may be the last to let go.
struct Transfer {
    Transfer(const std::string& u, const std::string& t, const DownloadLimits& limits,
             const ProgressSink& sink)
        : url(u), target(t), part(PartName(t)), progress(sink), watch(limits, GetTickCount()) {}

    // One name per fetch: a fetch given up on that still winds down never
    // meets the next one's file.
    static std::string PartName(const std::string& target) {
        static std::atomic<unsigned long> serial{0};
        return target + "." + std::to_string(GetCurrentProcessId()) + "-" +
               std::to_string(++serial) + ".download";
    }

    const std::string url;
    const std::string target;
    // Fetched beside the target and moved over it only when good: an error
    // page or a cut-short body never takes the place of the file, and an
    // earlier copy survives a failed fetch.
    const std::string part;
    const ProgressSink progress;
    UniqueHandle done;
    // urlmon's binding holds the callback and releases it when the binding
    // itself goes, which may be after the fetch has returned (an abort from
    // the waiting thread): the callback lives as long as the transfer.
    CCallback callback{*this};

    CriticalSection lock;  // guards everything below
    TransferWatch watch;
    IBinding* binding = nullptr;
    DWORD httpStatus = 0;
    DownloadOutcome stopReason = DownloadOutcome::Ok;  // why the fetch was told to stop
    bool abandoned = false;                            // the waiter has given up on it
    DownloadResult result;
};

namespace {

std::string NarrowFromWide(LPCWSTR text) {
    if (!text) return std::string();
    const int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return std::string();
    std::string narrow(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &narrow[0], n, nullptr, nullptr);
    narrow.resize(static_cast<std::size_t>(n - 1));
    return narrow;
}

DownloadResult Judge(Transfer& t, HRESULT hr) {
    DownloadResult result;
    result.httpStatus = t.httpStatus;
    if (t.abandoned) {
        result.outcome = t.stopReason;
    } else if (t.stopReason != DownloadOutcome::Ok) {
        result.outcome = t.stopReason;
    } else if (FAILED(hr)) {
        result.outcome = DownloadOutcome::TransportFailed;
    } else if (t.httpStatus >= 400) {
        result.outcome = DownloadOutcome::HttpError;
    } else if (t.watch.Announced() != 0 && t.watch.Received() < t.watch.Announced()) {
        result.outcome = DownloadOutcome::Incomplete;
    } else {
        result.outcome = DownloadOutcome::Ok;
    }
    return result;
}

void FetchThread(void* param) {
    std::unique_ptr<std::shared_ptr<Transfer>> holder(static_cast<std::shared_ptr<Transfer>*>(param));
    Transfer& t = **holder;
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    // A cached copy would hide a new version on the server.
    DeleteUrlCacheEntryA(t.url.c_str());
    DeleteFileA(t.part.c_str());
    const HRESULT hr = URLDownloadToFileA(nullptr, t.url.c_str(), t.part.c_str(), 0, &t.callback);
    {
        CriticalSectionLock guard(t.lock);
        if (t.binding) t.binding->Release();
        t.binding = nullptr;
        DownloadResult result = Judge(t, hr);
        // Under the lock, so a waiter that has given up never finds the file moved.
        if (result.Ok() && !MoveFileExA(t.part.c_str(), t.target.c_str(), MOVEFILE_REPLACE_EXISTING))
            result.outcome = DownloadOutcome::NotSaved;
        if (!result.Ok()) DeleteFileA(t.part.c_str());
        t.result = result;
        SetEvent(t.done.Get());
    }
    if (SUCCEEDED(init)) CoUninitialize();
}

constexpr DWORD kWaitSliceMs = 200;
// After an abort, how long the waiter still gives the fetch to wind down;
// past that the thread finishes and cleans up on its own.
constexpr DWORD kAbortGraceMs = 5000;

}  // namespace

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

IFACEMETHODIMP CCallback::OnStartBinding(DWORD, IBinding* pib) {
    // Kept so that the waiting thread can abort a fetch that has stalled.
    CriticalSectionLock guard(m_transfer.lock);
    if (pib && !m_transfer.binding) {
        pib->AddRef();
        m_transfer.binding = pib;
    }
    return S_OK;
}

IFACEMETHODIMP CCallback::OnProgress(ULONG ulProgress, ULONG ulProgressMax, ULONG ulStatusCode,
                                     LPCWSTR szStatusText) {
    bool stop = false;
    {
        CriticalSectionLock guard(m_transfer.lock);
        if (ulStatusCode == BINDSTATUS_REDIRECTING &&
            !RedirectAllowed(m_transfer.url, NarrowFromWide(szStatusText))) {
            m_transfer.stopReason = DownloadOutcome::InsecureRedirect;
        } else if (!m_transfer.watch.Progress(ulProgress, ulProgressMax, GetTickCount())) {
            m_transfer.stopReason = DownloadOutcome::TooLarge;
        }
        stop = m_transfer.stopReason != DownloadOutcome::Ok;
    }
    if (stop) return E_ABORT;
    if (m_transfer.progress) m_transfer.progress(ulProgress, ulProgressMax);
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
    CriticalSectionLock guard(m_transfer.lock);
    m_transfer.httpStatus = dwResponseCode;
    return S_OK;
}

DownloadResult DownloadUpdateFile(const std::string& url, const std::string& target,
                                  const DownloadLimits& limits, const ProgressSink& progress,
                                  bool pumpSent, HANDLE cancel) {
    auto transfer = std::make_shared<Transfer>(url, target, limits, progress);
    Transfer& t = *transfer;
    t.done.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    auto* param = new (std::nothrow) std::shared_ptr<Transfer>(transfer);
    if (!t.done.Valid() || !param || !t.lock.Valid() || !StartModuleThread(FetchThread, param)) {
        delete param;
        return {DownloadOutcome::TransportFailed, 0};
    }
    const HANDLE waits[2] = {t.done.Get(), cancel};
    const DWORD count = cancel ? 2 : 1;
    for (;;) {
        const DWORD woke = ServingWait(count, waits, kWaitSliceMs, pumpSent);
        if (woke == WAIT_OBJECT_0) break;
        IBinding* binding = nullptr;
        {
            CriticalSectionLock guard(t.lock);
            if (woke == WAIT_OBJECT_0 + 1 && t.stopReason == DownloadOutcome::Ok)
                t.stopReason = DownloadOutcome::Cancelled;
            // A fetch told to stop that does not, that has stalled or that is
            // past its deadline is aborted.
            const DownloadOutcome overdue = t.watch.Overdue(GetTickCount());
            if (t.stopReason == DownloadOutcome::Ok && overdue == DownloadOutcome::Ok) continue;
            if (WaitForSingleObject(t.done.Get(), 0) == WAIT_OBJECT_0) break;
            if (t.stopReason == DownloadOutcome::Ok) t.stopReason = overdue;
            t.abandoned = true;
            binding = t.binding;
            if (binding) binding->AddRef();
        }
        if (binding) {
            binding->Abort();
            binding->Release();
        }
        ServingWait(1, waits, kAbortGraceMs, pumpSent);
        CriticalSectionLock guard(t.lock);
        return {t.stopReason, t.httpStatus};
    }
    CriticalSectionLock guard(t.lock);
    return t.result;
}

}  // namespace trv
