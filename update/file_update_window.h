// The modal install/update dialog (resource 203): checks the client suite's
// version, and when it is missing or differs, downloads the installer with
// progress, runs it and waits for its result file.
#pragma once

#include <windows.h>

#include <string>

#include "platform/win32/com_util.h"
#include "update/update_flow.h"

namespace trv {

constexpr UINT WM_INSTALL_RESULT = WM_USER + 100;
// From the download thread: wParam is nonzero when the installer arrived.
constexpr UINT WM_INSTALLER_DOWNLOADED = WM_APP + 0x203;

constexpr UINT_PTR kDownloadTimer = 1;
constexpr UINT kDownloadTimerMs = 100;
constexpr UINT_PTR kResultTimer = 2;
constexpr UINT kResultTimerMs = 1000;
// Ticks of kResultTimer to wait for a result after the installer has ended.
constexpr int kInstallerGoneGraceTicks = 3;
// Status line once the installer has ended without a result; from then on
// Esc and the close box end the dialog with 2.
constexpr wchar_t kInstallerGoneStatus[] = L"설치 프로그램이 결과 없이 끝났습니다. 창을 닫으세요.";

class FileUpdateWindow {
public:
    FileUpdateWindow() = default;
    FileUpdateWindow(const FileUpdateWindow&) = delete;
    FileUpdateWindow& operator=(const FileUpdateWindow&) = delete;

    // 1 current or updated, 2 failed or closed, -1 the dialog could not be created.
    INT_PTR DoModal(HWND parent);

    // Status line and bar; safe from the download thread (window messages only).
    static void ShowProgress(HWND dialog, const std::string& text, int percent);

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    static unsigned __stdcall DownloadThreadProc(void* param);

    BOOL OnInitDialog();
    LRESULT OnTimer(UINT_PTR id);
    LRESULT OnInstallResult(WPARAM wParam);
    // What the download thread reports with WM_INSTALLER_DOWNLOADED.
    static constexpr int kInstallerFailed = 0;
    static constexpr int kInstallerReady = 1;
    static constexpr int kInstallerUntrusted = 2;
    void OnInstallerDownloaded(int outcome);
    void OnCancel();
    void RunInstaller();
    void PollResult();
    void Fail();
    void End(INT_PTR code);
    void SetStatus(const wchar_t* text);

    HWND m_hWnd = nullptr;
    HWND m_ctlStatus = nullptr;
    HWND m_ctlProgress = nullptr;
    UpdatePaths m_paths;
    bool m_ending = false;
    UniqueHandle m_installer;
    InstallWatch m_watch{kInstallerGoneGraceTicks};
};

}  // namespace trv
