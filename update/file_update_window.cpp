#include "update/file_update_window.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <new>
#include <utility>

#include "platform/support_log.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/module_activation.h"
#include "platform/win32/module_hold.h"
#include "resources/resource.h"
#include "update/installer_trust.h"
#include "update/installer_trust_win32.h"
#include "update/update_check.h"
#include "update/update_system_win32.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

#ifndef TRV_INSTALLER_MAX_BYTES
#define TRV_INSTALLER_MAX_BYTES (256u << 20)
#endif

namespace trv {

// One update run as the dialog and its download thread share it. The
// thread fills in the outcome and then posts the token; the dialog acts
// only on what it finds here, and only while the run is at that step.
struct FileUpdateWindow::Run {
    explicit Run(std::uint32_t token, HWND dialogWindow) : dialog(dialogWindow), state(token) {}

    // From the fetching thread: remember the counts, and tell the dialog
    // once until it has shown them.
    void Progress(std::uint32_t got, std::uint32_t total) {
        CriticalSectionLock guard(lock);
        received = got;
        announced = total;
        if (state.DialogAlive() && state.Current() == RunState::Phase::Fetching && !progressPosted) {
            progressPosted = PostMessageW(dialog, WM_INSTALLER_PROGRESS, state.Token(), 0) != FALSE;
        }
    }

    CriticalSection lock;  // guards everything below
    const HWND dialog;     // posted to only while the state says it is alive
    RunState state;
    InstallerFetch fetch;
    TrustOutcome trust = TrustOutcome::CannotReadFile;  // only when fetch.outcome is Ok
    UniqueHandle held;  // the verified installer, open until it has been started
    UniqueHandle sealed;  // its folder, sealed, open until the folder is removed
    UniqueHandle cancel;  // set when the user closes the dialog: the download ends at once
    std::uint32_t received = 0;
    std::uint32_t announced = 0;
    bool progressPosted = false;
    bool leftReady = false;  // the dialog went with a verified installer untaken
};

namespace {

constexpr wchar_t kCaption[] = L"타르보스크 프로그램 설치";
constexpr wchar_t kInstalling[] = L"설치중입니다..";

// What the download thread needs; it owns its copy, so the dialog may end
// while the thread finishes.
struct DownloadJob {
    std::shared_ptr<FileUpdateWindow::Run> run;
    UpdatePaths paths;
    std::string url;
    DownloadLimits limits;
    DWORD folderCleanupWaitMs;
};

// An installer's folder goes once the installer has ended and nothing it
// started still runs from or in the folder; both waits end at waitMs.
struct FolderCleanup {
    UniqueHandle process;
    std::string folder;
    DWORD waitMs;
    UniqueHandle sealed;
};
constexpr DWORD kFolderRetryMs = 1000;

// For the support log: which fetch, how it failed, and the server's answer.
void NoteDownload(const char* what, const DownloadResult& download) {
    NoteReason((std::string(what) + " download failed (" + DownloadOutcomeName(download.outcome) +
                "), HTTP status")
                   .c_str(),
               download.httpStatus);
}

void NoteFetch(const InstallerFetch& fetch, TrustOutcome trust) {
    switch (fetch.outcome) {
    case FetchOutcome::Ok:
        NoteReason((std::string("installer refused by its signature check: ") +
                    TrustOutcomeName(trust))
                       .c_str());
        return;
    case FetchOutcome::StaleResult:
        NoteReason("an earlier install_result could not be deleted");
        return;
    case FetchOutcome::NoRunFolder:
        NoteReason("the installer's own folder could not be made");
        return;
    case FetchOutcome::DownloadFailed:
        NoteDownload("installer", fetch.download);
        return;
    case FetchOutcome::FolderRefused:
        NoteReason(FolderVerdictText(fetch.folderVerdict));
        return;
    }
}

bool RemoveRunFolder(const std::string& folder, UniqueHandle& sealed) {
    return folder.empty() || RemoveFolderPinned(folder, sealed);
}

void FolderCleanupThread(void* param) {
    std::unique_ptr<FolderCleanup> cleanup(static_cast<FolderCleanup*>(param));
    const DWORD start = GetTickCount();
    // An installer still running past the bound keeps its folder.
    if (cleanup->process.Valid() &&
        WaitForSingleObject(cleanup->process.Get(), cleanup->waitMs) != WAIT_OBJECT_0) {
        return;
    }
    while (!RemoveRunFolder(cleanup->folder, cleanup->sealed) &&
           GetTickCount() - start < cleanup->waitMs) {
        Sleep(kFolderRetryMs);
    }
}

// At once when nothing uses the folder any more, else by a thread of its own.
void DisposeOfFolder(UniqueHandle process, const std::string& folder, DWORD waitMs,
                     UniqueHandle sealed = UniqueHandle()) {
    const bool ended = !process.Valid() || WaitForSingleObject(process.Get(), 0) == WAIT_OBJECT_0;
    if (ended && RemoveRunFolder(folder, sealed)) return;
    auto* cleanup =
        new (std::nothrow) FolderCleanup{std::move(process), folder, waitMs, std::move(sealed)};
    if (cleanup && !StartModuleThread(FolderCleanupThread, cleanup)) delete cleanup;
}

void DownloadThread(void* param) {
    std::unique_ptr<DownloadJob> job(static_cast<DownloadJob*>(param));
    const std::shared_ptr<FileUpdateWindow::Run> run = job->run;
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Win32UpdateSystem system(
        nullptr, [run](std::uint32_t got, std::uint32_t total) { run->Progress(got, total); },
        false, run->cancel.Get());
    InstallerFetch fetch = FetchInstaller(system, job->paths, job->url, job->limits);
    const DWORD waitMs = job->folderCleanupWaitMs;
    UniqueHandle held;
    UniqueHandle sealed;
    TrustOutcome trust = TrustOutcome::CannotReadFile;
    if (fetch.outcome != FetchOutcome::Ok && !fetch.folder.empty()) {
        DisposeOfFolder(UniqueHandle(), fetch.folder, waitMs, system.TakePinnedFolder(fetch.folder));
    }
    if (fetch.outcome == FetchOutcome::Ok) {
        // Sealed first, so nobody may add anything beside the installer (a
        // DLL an elevated installer would load), and what got in before
        // fails the run. Then the installer is opened once and kept open from
        // the check until its process exists: the file checked is the file
        // that runs.
        sealed = system.TakePinnedFolder(fetch.folder);
        const FolderVerdict verdict = SealAndOpenRunFolder(sealed.Get(), fetch.setupFile, held);
        if (verdict != FolderVerdict::OnlyInstaller) {
            fetch.outcome = FetchOutcome::FolderRefused;
            fetch.folderVerdict = verdict;
            held.Reset();
            DisposeOfFolder(UniqueHandle(), fetch.folder, waitMs, std::move(sealed));
        }
    }
    if (fetch.outcome == FetchOutcome::Ok) {
        // The check is slow, so it stays off the dialog's thread; a refused
        // file is deleted at once.
        trust = VerifyHeldInstallerOrRemove(held, fetch.setupFile);
        if (trust != TrustOutcome::Ok)
            DisposeOfFolder(UniqueHandle(), fetch.folder, waitMs, std::move(sealed));
    }
    if (SUCCEEDED(init)) CoUninitialize();
    const bool ready = fetch.outcome == FetchOutcome::Ok && trust == TrustOutcome::Ok;
    {
        CriticalSectionLock guard(run->lock);
        run->fetch = fetch;
        run->trust = trust;
        if (run->state.FetchDone(ready)) {
            run->held = std::move(held);
            run->sealed = std::move(sealed);
            // The dialog's thread shows any message, runs the installer and
            // sets the timer: timers belong to the thread that owns the window.
            PostMessageW(run->dialog, WM_INSTALLER_DOWNLOADED, run->state.Token(), 0);
            return;
        }
    }
    // The dialog has gone or was closed: nobody will start the installer.
    held.Reset();
    if (ready) DisposeOfFolder(UniqueHandle(), fetch.folder, waitMs, std::move(sealed));
}

}  // namespace

UpdateSettings DefaultUpdateSettings() {
    static_assert(TRV_INSTALLER_MAX_BYTES > 0, "TRV_INSTALLER_MAX_BYTES: a size in bytes");
    constexpr auto kInstallerMax = static_cast<std::uint32_t>(TRV_INSTALLER_MAX_BYTES);
    return {TRV_UPDATE_HOST,
            {kVersionStallMs, kVersionMaxBytes, kVersionTotalMs},
            {kInstallerStallMs, kInstallerMax, InstallerDeadlineMs(kInstallerMax)},
            60 * 60 * 1000};
}

int RunFileUpdateCheck() {
    FileUpdateWindow dialog;
    return static_cast<int>(dialog.DoModal(GetActiveWindow()));
}

FileUpdateWindow::FileUpdateWindow(UpdateSettings settings) : m_settings(std::move(settings)) {}

FileUpdateWindow::~FileUpdateWindow() = default;

INT_PTR FileUpdateWindow::DoModal(HWND parent) {
    const ModuleActivation styles;  // the dialog, its controls and its message boxes
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
    const HINSTANCE module = reinterpret_cast<HINSTANCE>(&__ImageBase);
    const INT_PTR code = DialogBoxParamW(module, MAKEINTRESOURCEW(IDD_FILEUPDATE), parent,
                                         DialogProc, reinterpret_cast<LPARAM>(this));
    DisposeOfRun();
    return code == 0 ? -1 : code;  // 0: a parent that is not a window
}

void FileUpdateWindow::ShowProgress(HWND dialog, const std::string& text, int percent) {
    HWND status = GetDlgItem(dialog, IDC_STATUS);
    SetWindowTextW(status, WidenAnsi(text).c_str());
    RedrawWindow(status, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    SendMessageW(GetDlgItem(dialog, IDC_PROGRESS), PBM_SETPOS, static_cast<WPARAM>(percent), 0);
}

INT_PTR CALLBACK FileUpdateWindow::DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<FileUpdateWindow*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<FileUpdateWindow*>(lParam);
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        self->m_hWnd = hwnd;
        return self->OnInitDialog();
    }
    if (!self) return FALSE;
    switch (msg) {
    case WM_TIMER:
        self->OnTimer(wParam);
        return TRUE;
    case WM_INSTALL_RESULT:
        SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, self->OnInstallResult(wParam));
        return TRUE;
    case WM_INSTALLER_DOWNLOADED:
        self->OnInstallerDownloaded(wParam);
        return TRUE;
    case WM_INSTALLER_PROGRESS:
        self->OnProgressNotice(wParam);
        return TRUE;
    case WM_DPICHANGED:
        self->m_scale.Apply(wParam, lParam);
        return TRUE;
    case WM_COMMAND:
        // Esc and the close box arrive as IDCANCEL.
        if (LOWORD(wParam) == IDCANCEL) self->OnCancel();
        return TRUE;
    case WM_WINDOWPOSCHANGING:
        // A dialog that ends while it initialises is never shown.
        if (self->m_ending) {
            reinterpret_cast<WINDOWPOS*>(lParam)->flags &= ~SWP_SHOWWINDOW;
            return TRUE;
        }
        return FALSE;
    case WM_DESTROY:
        KillTimer(hwnd, kDownloadTimer);
        KillTimer(hwnd, kResultTimer);
        // From here on the download thread neither posts nor leaves work here.
        if (self->m_run) {
            CriticalSectionLock guard(self->m_run->lock);
            self->m_run->leftReady = self->m_run->state.DialogGone();
        }
        return FALSE;
    }
    return FALSE;
}

BOOL FileUpdateWindow::OnInitDialog() {
    SetWindowTextW(m_hWnd, kCaption);
    m_scale.Attach(m_hWnd);
    m_ctlStatus = GetDlgItem(m_hWnd, IDC_STATUS);
    m_ctlProgress = GetDlgItem(m_hWnd, IDC_PROGRESS);

    // The fetch runs on a thread of its own while this one waits, bounded,
    // still answering what other threads send it.
    Win32UpdateSystem system(m_hWnd, ProgressSink(), true);
    MakeUpdatePaths(system, m_paths);
    const CheckResult result = RunVersionCheck(
        system, m_paths, UpdateUrl(m_settings.server, kVersionFileUrlPath), m_settings.version);
    if (result.outcome == CheckOutcome::End) {
        if (result.endCode != 1) {
            if (!result.versionFetch.Ok()) NoteDownload("version file", result.versionFetch);
            else NoteReason("the downloaded version file could not be read");
        }
        End(result.endCode);
        return TRUE;
    }
    std::uint32_t token = static_cast<std::uint32_t>(system.RandomNumber());
    m_run = std::make_shared<Run>(token != 0 ? token : 1, m_hWnd);
    m_run->cancel.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    SetTimer(m_hWnd, kDownloadTimer, kDownloadTimerMs, nullptr);
    return TRUE;  // the default focus
}

LRESULT FileUpdateWindow::OnTimer(UINT_PTR id) {
    if (!m_run || m_ending) return 0;
    if (id == kDownloadTimer) {
        {
            // Once per run: a second tick, or one posted by someone else, does nothing.
            CriticalSectionLock guard(m_run->lock);
            if (!m_run->state.BeginFetch()) return 0;
        }
        KillTimer(m_hWnd, kDownloadTimer);
        StartDownload();
    } else if (id == kResultTimer) {
        {
            CriticalSectionLock guard(m_run->lock);
            if (!m_run->state.Polling()) return 0;
        }
        PollResult();
    }
    return 0;
}

void FileUpdateWindow::StartDownload() {
    SendMessageW(m_ctlProgress, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SendMessageW(m_ctlProgress, PBM_SETPOS, 0, 0);
    auto* job = new (std::nothrow)
        DownloadJob{m_run, m_paths, UpdateUrl(m_settings.server, kSetupFileUrlPath),
                    m_settings.installer, m_settings.folderCleanupWaitMs};
    if (!job || !StartModuleThread(DownloadThread, job)) {
        delete job;
        NoteReason("the download thread could not be started");
        Fail();
    }
}

void FileUpdateWindow::OnProgressNotice(WPARAM token) {
    if (!m_run || m_ending) return;
    std::uint32_t got, total;
    {
        CriticalSectionLock guard(m_run->lock);
        if (token != m_run->state.Token() || m_run->state.Current() != RunState::Phase::Fetching)
            return;
        got = m_run->received;
        total = m_run->announced;
        m_run->progressPosted = false;
    }
    const ProgressDisplay display = MakeProgressDisplay(got, total, [](std::uint32_t bytes) {
        char buffer[256] = {};
        StrFormatByteSizeA(bytes, buffer, sizeof buffer);
        return std::string(buffer);
    });
    ShowProgress(m_hWnd, display.text, display.percent);
}

void FileUpdateWindow::OnInstallerDownloaded(WPARAM token) {
    if (!m_run || m_ending) return;
    RunState::Notice notice;
    InstallerFetch fetch;
    TrustOutcome trust;
    UniqueHandle held;
    UniqueHandle sealed;
    {
        CriticalSectionLock guard(m_run->lock);
        notice = m_run->state.TakeNotice(token);
        fetch = m_run->fetch;
        trust = m_run->trust;
        if (notice == RunState::Notice::StartInstaller) {
            held = std::move(m_run->held);
            sealed = std::move(m_run->sealed);
        }
    }
    switch (notice) {
    case RunState::Notice::Ignore:
        return;
    case RunState::Notice::ShowFailure:
        NoteFetch(fetch, trust);
        if (fetch.outcome == FetchOutcome::Ok) {
            // Fetched whole, refused by the signature check.
            MessageBoxW(m_hWnd, kInstallerUntrustedMessage, kUpdateMessageTitle, MB_OK);
            End(2);
        } else {
            Fail();
        }
        return;
    case RunState::Notice::StartInstaller:
        SetStatus(kInstalling);
        RunInstaller(fetch, std::move(held), std::move(sealed));
        return;
    }
}

void FileUpdateWindow::RunInstaller(const InstallerFetch& fetch, UniqueHandle held,
                                    UniqueHandle sealed) {
    SHELLEXECUTEINFOA info = {};
    info.cbSize = sizeof info;
    // Keep the process handle to tell when the installer has ended.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.hwnd = m_hWnd;
    info.lpFile = fetch.setupFile.c_str();
    info.lpDirectory = fetch.folder.c_str();
    info.nShow = SW_SHOWNORMAL;
    const bool started = ShellExecuteExA(&info) != FALSE;
    // The process now exists (or never will): the file may be let go.
    held.Reset();
    {
        CriticalSectionLock guard(m_run->lock);
        m_run->state.InstallerStarted(started);
    }
    if (!started) {
        NoteReason("the installer could not be started");
        DisposeOfFolder(UniqueHandle(), fetch.folder, m_settings.folderCleanupWaitMs,
                        std::move(sealed));
        Fail();
        return;
    }
    m_installer.Reset(info.hProcess);
    m_runFolder = fetch.folder;
    // Kept sealed and in place while the installer runs from it.
    m_sealed = std::move(sealed);
    SetTimer(m_hWnd, kResultTimer, kResultTimerMs, nullptr);
}

void FileUpdateWindow::PollResult() {
    Win32UpdateSystem system(m_hWnd, ProgressSink(), false);
    std::string head;
    const ReadStatus status = system.ReadHead(m_paths.resultFile, kResultHeadMax, head);
    // Without a process handle there is no telling: the user may close
    // after the grace, and a late result still counts.
    const bool ended =
        !m_installer.Valid() || WaitForSingleObject(m_installer.Get(), 0) == WAIT_OBJECT_0;
    const InstallWatch::Step step = m_watch.Tick(status, head, ended);
    switch (step.action) {
    case InstallWatch::Action::Finish:
        KillTimer(m_hWnd, kResultTimer);
        if (EndCodeForInstallResult(step.param) != 1) NoteReason("the installer reported failure");
        m_sendingResult = true;
        SendMessageW(m_hWnd, WM_INSTALL_RESULT, step.param, 0);
        m_sendingResult = false;
        break;
    case InstallWatch::Action::InstallerGone:
        NoteReason(step.problem == InstallWatch::Problem::NoResult
                       ? "the installer ended without a result"
                       : "the installer's result could not be read");
        SetStatus(step.problem == InstallWatch::Problem::NoResult ? kInstallerGoneStatus
                                                                  : kResultUnreadableStatus);
        break;
    case InstallWatch::Action::Wait:
        break;
    }
}

LRESULT FileUpdateWindow::OnInstallResult(WPARAM wParam) {
    // Only the result this dialog read itself ends it; the same message
    // from anyone else would pass the gate without an install.
    if (!m_sendingResult) return 0;
    End(EndCodeForInstallResult(wParam));
    return 0;
}

void FileUpdateWindow::OnCancel() {
    if (m_ending) return;
    // Closing while the installer downloads ends the run as a failed
    // download: the transfer is aborted at once, and whatever the thread
    // still brings in is cleaned up by the thread. Another program can post
    // the same close; all it gets is this failure, never a pass of the gate.
    bool cancelled = false;
    if (m_run) {
        CriticalSectionLock guard(m_run->lock);
        cancelled = m_run->state.Cancel();
    }
    if (cancelled) {
        if (m_run->cancel.Valid()) SetEvent(m_run->cancel.Get());
        NoteDownload("installer", {DownloadOutcome::Cancelled, 0});
        Fail();
        return;
    }
    // Closing in the middle of an install would leave the suite half done;
    // only an installer that has gone without a result lets the user out.
    if (m_watch.Closable()) End(2);
}

void FileUpdateWindow::Fail() {
    Win32UpdateSystem(m_hWnd, ProgressSink(), false).ShowMessage(UpdateMessage::DownloadFailed);
    End(2);
}

void FileUpdateWindow::End(INT_PTR code) {
    m_ending = true;
    EndDialog(m_hWnd, code);
}

void FileUpdateWindow::SetStatus(const wchar_t* text) {
    SetWindowTextW(m_ctlStatus, text);
    UpdateWindow(m_ctlStatus);
}

void FileUpdateWindow::DisposeOfRun() {
    if (m_run) {
        // A verified installer the dialog never took: close and remove it.
        UniqueHandle held;
        UniqueHandle sealed;
        std::string folder;
        {
            CriticalSectionLock guard(m_run->lock);
            if (m_run->state.DialogAlive()) m_run->leftReady = m_run->state.DialogGone();
            if (m_run->leftReady) {
                held = std::move(m_run->held);
                sealed = std::move(m_run->sealed);
                folder = m_run->fetch.folder;
                m_run->leftReady = false;
            }
        }
        held.Reset();
        if (!folder.empty())
            DisposeOfFolder(UniqueHandle(), folder, m_settings.folderCleanupWaitMs, std::move(sealed));
    }
    if (m_runFolder.empty()) return;
    // The installer may outlive the dialog, and what it started may outlive it.
    DisposeOfFolder(std::move(m_installer), m_runFolder, m_settings.folderCleanupWaitMs,
                    std::move(m_sealed));
    m_runFolder.clear();
}

}  // namespace trv
