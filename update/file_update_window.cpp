#include "update/file_update_window.h"

#include <commctrl.h>
#include <process.h>
#include <shellapi.h>

#include <new>

#include "update/update_system_win32.h"
#include "resources/resource.h"
#include "update/installer_trust.h"
#include "update/installer_trust_win32.h"
#include "update/update_check.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace trv {

namespace {

constexpr wchar_t kCaption[] = L"타르보스크 프로그램 설치";
constexpr wchar_t kInstalling[] = L"설치중입니다..";

// What the download thread needs; it owns its copy, so the dialog may end
// while the thread finishes.
struct DownloadJob {
    HWND dialog;
    UpdatePaths paths;
    std::string url;
};

std::wstring WideFromAnsi(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0);
    std::wstring wide(n > 0 ? n : 0, L'\0');
    if (n > 0) {
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
    }
    return wide;
}

}  // namespace

int RunFileUpdateCheck() {
    FileUpdateWindow dialog;
    return static_cast<int>(dialog.DoModal(GetActiveWindow()));
}

INT_PTR FileUpdateWindow::DoModal(HWND parent) {
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
    const HINSTANCE module = reinterpret_cast<HINSTANCE>(&__ImageBase);
    const INT_PTR code = DialogBoxParamW(module, MAKEINTRESOURCEW(IDD_FILEUPDATE), parent,
                                         DialogProc, reinterpret_cast<LPARAM>(this));
    m_installer.Reset();
    return code == 0 ? -1 : code;  // 0: a parent that is not a window
}

void FileUpdateWindow::ShowProgress(HWND dialog, const std::string& text, int percent) {
    HWND status = GetDlgItem(dialog, IDC_STATUS);
    SetWindowTextW(status, WideFromAnsi(text).c_str());
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
        self->OnInstallerDownloaded(static_cast<int>(wParam));
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
        return FALSE;
    }
    return FALSE;
}

BOOL FileUpdateWindow::OnInitDialog() {
    SetWindowTextW(m_hWnd, kCaption);
    m_ctlStatus = GetDlgItem(m_hWnd, IDC_STATUS);
    m_ctlProgress = GetDlgItem(m_hWnd, IDC_PROGRESS);

    Win32UpdateSystem system(m_hWnd, nullptr);
    MakeUpdatePaths(system, m_paths);
    const CheckResult result =
        RunVersionCheck(system, m_paths, UpdateUrl(TRV_UPDATE_HOST, kVersionFileUrlPath));
    if (result.outcome == CheckOutcome::End) {
        End(result.endCode);
    } else {
        SetTimer(m_hWnd, kDownloadTimer, kDownloadTimerMs, nullptr);
    }
    return TRUE;  // the default focus
}

LRESULT FileUpdateWindow::OnTimer(UINT_PTR id) {
    if (id == kDownloadTimer) {
        KillTimer(m_hWnd, kDownloadTimer);
        SendMessageW(m_ctlProgress, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
        SendMessageW(m_ctlProgress, PBM_SETPOS, 0, 0);
        auto* job = new (std::nothrow)
            DownloadJob{m_hWnd, m_paths, UpdateUrl(TRV_UPDATE_HOST, kSetupFileUrlPath)};
        const uintptr_t thread =
            job ? _beginthreadex(nullptr, 0, DownloadThreadProc, job, 0, nullptr) : 0;
        if (thread == 0) {
            delete job;
            Fail();
            return 0;
        }
        // Nobody waits for the thread.
        CloseHandle(reinterpret_cast<HANDLE>(thread));
    } else if (id == kResultTimer) {
        PollResult();
    }
    return 0;
}

unsigned __stdcall FileUpdateWindow::DownloadThreadProc(void* param) {
    DownloadJob* job = static_cast<DownloadJob*>(param);
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    bool ok;
    {
        Win32UpdateSystem system(nullptr, job->dialog);
        ok = DownloadInstaller(system, job->paths, job->url);
    }
    // The installer came over plain HTTP: only a file signed by the service's
    // own publisher may run. The check is slow, so it stays off the dialog's
    // thread; a refused file is deleted at once.
    const bool trusted =
        ok && VerifyInstallerOrRemove(job->paths.setupFile) == TrustOutcome::Ok;
    if (SUCCEEDED(init)) CoUninitialize();
    // The dialog's thread shows any message, runs the installer and sets
    // the timer: timers belong to the thread that owns the window.
    PostMessageW(job->dialog, WM_INSTALLER_DOWNLOADED,
                 !ok ? kInstallerFailed : trusted ? kInstallerReady : kInstallerUntrusted, 0);
    delete job;
    return 1;
}

void FileUpdateWindow::OnInstallerDownloaded(int outcome) {
    if (m_ending) return;
    if (outcome == kInstallerUntrusted) {
        MessageBoxW(m_hWnd, kInstallerUntrustedMessage, kUpdateMessageTitle, MB_OK);
        End(2);
        return;
    }
    if (outcome != kInstallerReady) {
        Fail();
        return;
    }
    SetStatus(kInstalling);
    RunInstaller();
}

void FileUpdateWindow::RunInstaller() {
    SHELLEXECUTEINFOA info = {};
    info.cbSize = sizeof info;
    // Keep the process handle to tell when the installer has ended.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.hwnd = m_hWnd;
    info.lpFile = m_paths.setupFile.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExA(&info)) {
        Fail();
        return;
    }
    m_installer.Reset(info.hProcess);
    SetTimer(m_hWnd, kResultTimer, kResultTimerMs, nullptr);
}

void FileUpdateWindow::PollResult() {
    Win32UpdateSystem system(m_hWnd, nullptr);
    std::string head;
    const ReadStatus status = system.ReadHead(m_paths.resultFile, kResultHeadMax, head);
    const bool ended =
        m_installer.Valid() && WaitForSingleObject(m_installer.Get(), 0) == WAIT_OBJECT_0;
    const InstallWatch::Step step = m_watch.Tick(status, head, ended);
    switch (step.action) {
    case InstallWatch::Action::Finish:
        KillTimer(m_hWnd, kResultTimer);
        SendMessageW(m_hWnd, WM_INSTALL_RESULT, step.param, 0);
        break;
    case InstallWatch::Action::InstallerGone:
        SetStatus(kInstallerGoneStatus);
        break;
    case InstallWatch::Action::Wait:
        break;
    }
}

LRESULT FileUpdateWindow::OnInstallResult(WPARAM wParam) {
    End(EndCodeForInstallResult(wParam));
    return 0;
}

void FileUpdateWindow::OnCancel() {
    // Closing in the middle of an install would leave the suite half done;
    // only an installer that has gone without a result lets the user out.
    if (m_watch.Closable()) End(2);
}

void FileUpdateWindow::Fail() {
    Win32UpdateSystem(m_hWnd, nullptr).ShowMessage(UpdateMessage::DownloadFailed);
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

}  // namespace trv
