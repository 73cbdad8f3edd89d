// The modal install/update dialog (resource 203): checks the client suite's
// version, and when it is missing or differs, downloads the installer with
// progress, runs it and waits for its result file.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "platform/win32/com_util.h"
#include "platform/win32/dpi.h"
#include "update/update_flow.h"

namespace trv {

constexpr UINT WM_INSTALL_RESULT = WM_USER + 100;
// From the download thread, wParam the run's token: the outcome (or new
// progress) is in the run's shared state, where the thread put it.
constexpr UINT WM_INSTALLER_DOWNLOADED = WM_APP + 0x203;
constexpr UINT WM_INSTALLER_PROGRESS = WM_APP + 0x204;

constexpr UINT_PTR kDownloadTimer = 1;
constexpr UINT kDownloadTimerMs = 100;
constexpr UINT_PTR kResultTimer = 2;
constexpr UINT kResultTimerMs = 1000;
// Ticks of kResultTimer to wait for a whole result after the installer has ended.
constexpr int kInstallerGoneGraceTicks = 3;
// Status lines once the installer has ended without a whole result; from
// then on Esc and the close box end the dialog with 2.
constexpr wchar_t kInstallerGoneStatus[] = L"설치 프로그램이 결과 없이 끝났습니다. 창을 닫으세요.";
constexpr wchar_t kResultUnreadableStatus[] = L"설치 결과를 읽을 수 없습니다. 창을 닫으세요.";

// Where the dialog fetches from and the bounds it keeps.
struct UpdateSettings {
    std::string server;         // "host[:port]" or "http(s)://host[:port]"
    DownloadLimits version;     // the version file, fetched on the dialog's thread
    DownloadLimits installer;
    DWORD folderCleanupWaitMs;  // how long an installer that outlives the dialog is waited for
};
// The build's server (TRV_UPDATE_HOST) and bounds (TRV_INSTALLER_MAX_BYTES).
UpdateSettings DefaultUpdateSettings();

class FileUpdateWindow {
public:
    explicit FileUpdateWindow(UpdateSettings settings = DefaultUpdateSettings());
    ~FileUpdateWindow();
    FileUpdateWindow(const FileUpdateWindow&) = delete;
    FileUpdateWindow& operator=(const FileUpdateWindow&) = delete;

    // 1 current or updated, 2 failed or closed, -1 the dialog could not be created.
    INT_PTR DoModal(HWND parent);

    // Status line and bar.
    static void ShowProgress(HWND dialog, const std::string& text, int percent);

    struct Run;  // one update run, shared with its download thread

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

    BOOL OnInitDialog();
    LRESULT OnTimer(UINT_PTR id);
    LRESULT OnInstallResult(WPARAM wParam);
    void OnInstallerDownloaded(WPARAM token);
    void OnProgressNotice(WPARAM token);
    void OnCancel();
    void StartDownload();
    void RunInstaller(const InstallerFetch& fetch, UniqueHandle held, UniqueHandle sealed);
    void PollResult();
    void Fail();
    void End(INT_PTR code);
    void SetStatus(const wchar_t* text);
    void DisposeOfRun();

    UpdateSettings m_settings;
    HWND m_hWnd = nullptr;
    DialogScale m_scale;
    HWND m_ctlStatus = nullptr;
    HWND m_ctlProgress = nullptr;
    UpdatePaths m_paths;
    bool m_ending = false;
    // Set only while this dialog sends itself the installer's result.
    bool m_sendingResult = false;
    std::shared_ptr<Run> m_run;
    UniqueHandle m_installer;  // the installer's process
    std::string m_runFolder;   // the folder it was started from
    UniqueHandle m_sealed;     // that folder, sealed, until it is removed
    InstallWatch m_watch{kInstallerGoneGraceTicks};
};

}  // namespace trv
