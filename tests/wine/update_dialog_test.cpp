// The install/update dialog under Wine: the real dialog from the resources,
// the stand-in update server (started by a CTest fixture) and the stand-in
// installer. A hook on the dialog's thread records what the dialog shows; a
// watcher thread records and dismisses message boxes and plays the user.
#include <windows.h>
#include <aclapi.h>
#include <winternl.h>
#include <commctrl.h>
#include <objbase.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include "update/installer_trust.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "control/webbbs.h"
#include "platform/win32/module_hold.h"
#include "platform/win32/support_log_win32.h"
#include "platform/win32/win32_platform.h"
#include "resources/resource.h"
#include "support/wine_support.h"
#include "testbed/testbed_log.h"
#include "update/file_update_window.h"
#include "update/update_check.h"
#include "update/update_system_win32.h"

namespace trv {
namespace {

using namespace winetest;

// Real calls with the real gate, as the module wires them.
Win32Platform& DialogPlatform() {
    static Win32Platform platform(&RunFileUpdateCheck);
    return platform;
}

const std::wstring kDownloadFailed = L"업데이트 파일 다운로드에 실패 했습니다!   ";
const std::wstring kServerVersion = L"서버 버전정보 파일을 열 수 없습니다!   ";
const std::wstring kInstalling = L"설치중입니다..";
const std::wstring kCaption = L"타르보스크 프로그램 설치";

// ---------------------------------------------------------------------------
// What the dialog showed, recorded on its own thread.

struct Shown {
    std::mutex lock;
    HWND dialog = nullptr;
    bool visible = false;
    std::wstring caption;
    std::vector<std::wstring> statuses;
    std::vector<int> positions;
    std::vector<std::pair<std::wstring, int>> progress;  // status text, then bar position
    int rangeHigh = -1;

    void Clear() {
        std::lock_guard<std::mutex> g(lock);
        dialog = nullptr;
        visible = false;
        caption.clear();
        statuses.clear();
        positions.clear();
        progress.clear();
        rangeHigh = -1;
    }
};
Shown g_shown;

LRESULT CALLBACK RecordHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        const CWPSTRUCT* m = reinterpret_cast<const CWPSTRUCT*>(lParam);
        std::lock_guard<std::mutex> g(g_shown.lock);
        if (m->message == WM_INITDIALOG && GetDlgItem(m->hwnd, IDC_PROGRESS) &&
            GetDlgItem(m->hwnd, IDC_STATUS)) {
            g_shown.dialog = m->hwnd;
        } else if (m->hwnd == g_shown.dialog && g_shown.dialog) {
            if (m->message == WM_SETTEXT && m->lParam) {
                g_shown.caption = reinterpret_cast<const wchar_t*>(m->lParam);
            } else if (m->message == WM_WINDOWPOSCHANGED &&
                       (reinterpret_cast<const WINDOWPOS*>(m->lParam)->flags & SWP_SHOWWINDOW)) {
                g_shown.visible = true;
            }
        } else if (g_shown.dialog && GetParent(m->hwnd) == g_shown.dialog) {
            const int id = GetDlgCtrlID(m->hwnd);
            if (id == IDC_STATUS && m->message == WM_SETTEXT) {
                g_shown.statuses.push_back(
                    m->lParam ? reinterpret_cast<const wchar_t*>(m->lParam) : L"");
            } else if (id == IDC_PROGRESS && m->message == PBM_SETPOS) {
                const int pos = static_cast<int>(m->wParam);
                g_shown.positions.push_back(pos);
                g_shown.progress.emplace_back(
                    g_shown.statuses.empty() ? std::wstring() : g_shown.statuses.back(), pos);
            } else if (id == IDC_PROGRESS && m->message == PBM_SETRANGE) {
                g_shown.rangeHigh = HIWORD(m->lParam);
            }
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Runs on the dialog's thread as it takes each posted message: ends a hung
// dialog for the test's guard, and lets a test act at the very moment the
// dialog is about to handle its download thread's report.
std::atomic<bool> g_abortDialog{false};
std::function<void()> g_beforeWorkerReport;  // set only while no dialog runs

LRESULT CALLBACK PostedHook(int code, WPARAM wParam, LPARAM lParam) {
    const MSG* m = reinterpret_cast<const MSG*>(lParam);
    if (code == HC_ACTION && wParam == PM_REMOVE) {
        HWND dialog;
        {
            std::lock_guard<std::mutex> g(g_shown.lock);
            dialog = g_shown.dialog;
        }
        if (dialog && m->hwnd == dialog) {
            if (g_abortDialog.exchange(false)) EndDialog(dialog, -2);
            if (g_beforeWorkerReport && m->message >= WM_APP && m->message <= 0xBFFF)
                g_beforeWorkerReport();
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// ---------------------------------------------------------------------------
// The user: reads and dismisses every box titled "알림", and runs a test's
// own steps while the dialog is up.

std::wstring WindowText(HWND w) {
    wchar_t buffer[512] = {};
    GetWindowTextW(w, buffer, 512);
    return buffer;
}

BOOL CALLBACK CollectStaticText(HWND child, LPARAM param) {
    wchar_t cls[32] = {};
    GetClassNameW(child, cls, 32);
    if (lstrcmpiW(cls, L"Static") == 0) {
        const std::wstring t = WindowText(child);
        auto* out = reinterpret_cast<std::wstring*>(param);
        if (t.size() > out->size()) *out = t;
    }
    return TRUE;
}

// The longest static text of a message box is its message.
std::wstring BoxText(HWND box) {
    std::wstring text;
    EnumChildWindows(box, CollectStaticText, reinterpret_cast<LPARAM>(&text));
    return text;
}

struct BoxSearch {
    HWND found = nullptr;
    const std::set<HWND>* seen;
};

BOOL CALLBACK MatchNoticeBox(HWND w, LPARAM param) {
    auto* s = reinterpret_cast<BoxSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    wchar_t cls[32] = {};
    GetClassNameW(w, cls, 32);
    if (pid == GetCurrentProcessId() && IsWindowVisible(w) && lstrcmpW(cls, L"#32770") == 0 &&
        WindowText(w) == L"알림" && !s->seen->count(w)) {
        s->found = w;
        return FALSE;
    }
    return TRUE;
}

HWND FindNoticeBox(const std::set<HWND>& seen) {
    BoxSearch search{nullptr, &seen};
    EnumWindows(MatchNoticeBox, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

class User {
public:
    using Step = std::function<void(HWND dialog)>;

    // desktop: where the dialog runs, when not on the thread's default one.
    explicit User(Step step = nullptr, DWORD limitMs = 90000, HDESK desktop = nullptr)
        : m_step(std::move(step)), m_limitMs(limitMs) {
        m_thread = std::thread([this, desktop] {
            if (desktop) SetThreadDesktop(desktop);
            Run();
        });
    }
    ~User() { Stop(); }

    void Stop() {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
    }
    std::vector<std::wstring> Boxes() {
        std::lock_guard<std::mutex> g(m_lock);
        return m_boxes;
    }
    bool TimedOut() const { return m_timedOut; }

private:
    void Run() {
        const DWORD start = GetTickCount();
        std::set<HWND> seen;
        while (!m_stop) {
            if (HWND box = FindNoticeBox(seen)) {
                Sleep(100);  // let it finish drawing, as a person would
                {
                    std::lock_guard<std::mutex> g(m_lock);
                    m_boxes.push_back(BoxText(box));
                }
                seen.insert(box);
                PostMessageW(box, WM_COMMAND, IDOK, 0);
            }
            HWND dialog;
            {
                std::lock_guard<std::mutex> g(g_shown.lock);
                dialog = g_shown.dialog;
            }
            if (m_step && dialog && IsWindow(dialog)) m_step(dialog);
            if (GetTickCount() - start > m_limitMs && !m_timedOut) {
                // A hung dialog must fail the test, not the whole run.
                m_timedOut = true;
                g_abortDialog = true;
                if (dialog) PostMessageW(dialog, WM_NULL, 0, 0);
            }
            Sleep(30);
        }
    }

    Step m_step;
    DWORD m_limitMs;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_timedOut{false};
    std::mutex m_lock;
    std::vector<std::wstring> m_boxes;
    std::thread m_thread;
};

// ---------------------------------------------------------------------------
// The stand-in server, switched through its control file.

std::string ServerDir() { return BuildDir() + "\\update-server\\"; }

void SwitchServer(const std::string& settings) {
    static int generation = 0;
    const std::string gen = "t" + std::to_string(++generation);
    ASSERT_TRUE(WriteFileBytes(ServerDir() + "control", "gen=" + gen + "\n" + settings));
    ASSERT_TRUE(WaitUntil([&] { return ReadFileBytes(ServerDir() + "applied") == gen; }, 5000))
        << "the update server (CTest fixture update_server) did not take the switch";
}

std::string Requests() { return ReadFileBytes(ServerDir() + "requests.log"); }

std::string FormatSize(DWORD bytes) {
    char buffer[256] = {};
    StrFormatByteSizeA(bytes, buffer, sizeof buffer);
    return buffer;
}

// Also counts the distinct colours in the strip where the dialog's caption is.
bool SaveScreen(const std::string& path, HWND dialog, int* captionColours) {
    HDC screen = GetDC(nullptr);
    const RECT all = {0, 0, GetDeviceCaps(screen, HORZRES), GetDeviceCaps(screen, VERTRES)};
    ReleaseDC(nullptr, screen);
    ScreenCapture capture;
    if (!CaptureScreen(all, &capture)) return false;
    RECT r = {};
    std::set<std::uint32_t> colours;
    if (GetWindowRect(dialog, &r)) {
        const int top = r.top + GetSystemMetrics(SM_CYFRAME);
        const int bottom = top + GetSystemMetrics(SM_CYCAPTION) - 2;
        for (int y = top < 0 ? 0 : top; y < bottom && y < capture.height; ++y) {
            for (int x = r.left < 0 ? 0 : r.left; x < r.right && x < capture.width; ++x)
                colours.insert(capture.Pixel(x, y));
        }
    }
    *captionColours = static_cast<int>(colours.size());
    return WriteFileBytes(path, capture.Bmp());
}

// ---------------------------------------------------------------------------

class UpdateDialogTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(GetACP(), 949u) << "tests run with a Korean ANSI code page";
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        s_hook = SetWindowsHookExW(WH_CALLWNDPROC, RecordHook, nullptr, GetCurrentThreadId());
        ASSERT_NE(s_hook, nullptr);
        s_postedHook = SetWindowsHookExW(WH_GETMESSAGE, PostedHook, nullptr, GetCurrentThreadId());
        ASSERT_NE(s_postedHook, nullptr);
        // Run folders an earlier, interrupted test run may have left.
        const std::string temp = BuildDir() + "\\update-temp\\";
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((temp + "TRVSetup-*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::string folder = temp + found.cFileName + "\\";
                for (const char* name : {"setup.exe", "setup.exe.download", "setup.exe.old"})
                    DeleteFileA((folder + name).c_str());
                RemoveDirectoryA(folder.c_str());
            } while (FindNextFileA(search, &found));
            FindClose(search);
        }
    }
    static void TearDownTestSuite() {
        CloseAllClients();
        RemoveInstalledClients();
        DeleteFileA((InstallDir() + "ver.ini").c_str());
        UnhookWindowsHookEx(s_hook);
        UnhookWindowsHookEx(s_postedHook);
        CoUninitialize();
    }

    void SetUp() override {
        ASSERT_TRUE(CloseAllClients());
        temp = BuildDir() + "\\update-temp\\";
        ASSERT_TRUE(MakeFolder(temp));
        SetEnv("TMP", temp.c_str());
        SetEnv("TEMP", temp.c_str());
        ASSERT_TRUE(ClearResult()) << "install_result still held by an earlier test's helper";
        for (const char* name : {"_ver.ini", "setup.exe", "trv_setup.log"})
            DeleteFileA((temp + name).c_str());
        for (const char* v : {"TRV_SETUP_RESULT", "TRV_SETUP_DELAY_MS", "TRV_SETUP_LINGER_MS",
                              "TRV_SETUP_RESULT_STEP_MS", "TRV_SETUP_HOLD_MS"})
            SetEnv(v, nullptr);
        const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
        log = temp + info->name() + ".log";
        DeleteFileA(log.c_str());
        SetEnv("TRV_TESTBED_LOG", log.c_str());

        ASSERT_TRUE(RemoveInstalledClients());
        DeleteFileA((InstallDir() + "ver.ini").c_str());
        ASSERT_TRUE(MakeFolder(ServerDir() + "client"));
        ASSERT_TRUE(WriteFileBytes(ServerDir() + "client\\ver.ini", kServed));
        SwitchServer("");
        DeleteFileA((ServerDir() + "requests.log").c_str());
        g_shown.Clear();
        const std::vector<std::string> folders = RunFolders();
        foldersBefore = std::set<std::string>(folders.begin(), folders.end());
    }
    void TearDown() override { CloseAllClients(); }

    // install_result in whatever form a test left it: a read-only file, a
    // folder, a file a helper still holds (for a bounded while).
    bool ClearResult() {
        const std::string result = temp + "install_result";
        return WaitUntil(
            [&] {
                SetFileAttributesA(result.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(result.c_str());
                RemoveDirectoryA(result.c_str());
                return GetFileAttributesA(result.c_str()) == INVALID_FILE_ATTRIBUTES;
            },
            15000, 200);
    }

    // The folders runs fetched their installers into that are still there.
    std::vector<std::string> RunFolders() {
        std::vector<std::string> out;
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((temp + "TRVSetup-*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return out;
        do {
            out.push_back(temp + found.cFileName + "\\");
        } while (FindNextFileA(search, &found));
        FindClose(search);
        return out;
    }
    // Every run removes its folder once its installer (and whatever it
    // started there) has ended; folders of earlier tests' installers that
    // still run do not count.
    bool NoRunFolderLeft() {
        return WaitUntil(
            [&] {
                for (const std::string& folder : RunFolders())
                    if (!foldersBefore.count(folder)) return false;
                return true;
            },
            30000, 100);
    }

    void InstallVersion(const std::string& text) {
        ASSERT_TRUE(MakeFolder(InstallDir()));
        ASSERT_TRUE(WriteFileBytes(InstallDir() + "ver.ini", text));
    }

    // Runs the check as CheckClientReady does, with a user at the screen.
    int RunCheck(User::Step step = nullptr) {
        return RunCheckWith(DefaultUpdateSettings(), std::move(step));
    }
    // The same against another server or with other bounds.
    int RunCheckWith(const UpdateSettings& settings, User::Step step = nullptr) {
        User user(std::move(step));
        FileUpdateWindow dialog(settings);
        const int code = static_cast<int>(dialog.DoModal(GetActiveWindow()));
        Sleep(200);  // a box still opening would otherwise be missed
        user.Stop();
        boxes = user.Boxes();
        EXPECT_FALSE(user.TimedOut()) << "the dialog did not end by itself";
        return code;
    }

    bool InstallerRan() { return !ReadFileBytes(temp + "trv_setup.log").empty(); }

    std::vector<TestbedEvent> Events(const std::string& program, const std::string& event) {
        std::vector<TestbedEvent> out;
        for (const auto& e : ReadTestbedLog(log))
            if (e.program == program && e.event == event) out.push_back(e);
        return out;
    }

    // Short bounds, so stalls end within the test's time.
    static UpdateSettings ShortBounds() {
        UpdateSettings settings = DefaultUpdateSettings();
        settings.version.stallMs = 2000;
        settings.installer.stallMs = 3000;
        settings.installer.maxBytes = 1u << 20;
        return settings;
    }

    static constexpr char kServed[] = "TARVOSK client 2.4.1\r\n";
    static HHOOK s_hook;
    static HHOOK s_postedHook;
    std::string temp;
    std::string log;
    std::set<std::string> foldersBefore;
    std::vector<std::wstring> boxes;
};
HHOOK UpdateDialogTest::s_hook = nullptr;
HHOOK UpdateDialogTest::s_postedHook = nullptr;
constexpr char UpdateDialogTest::kServed[];

// ---------------------------------------------------------------------------
// Current suite

TEST_F(UpdateDialogTest, EqualVersionsEndWithOneWithoutAWindowAndTheHandOffGoesOn) {
    InstallVersion(kServed);
    ASSERT_TRUE(InstallStandInClients());

    EXPECT_EQ(RunCheck(), 1);
    EXPECT_FALSE(g_shown.visible);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(Requests(), "/client/ver.ini 200\n");
    EXPECT_EQ(ReadFileBytes(temp + "_ver.ini"), kServed);

    // Through the gate in front of a hand-off.
    g_shown.Clear();
    User user;
    WebBBS obj(DialogPlatform());
    obj.DownLoadInfo("7", "C:\\down\\file.txt");
    EXPECT_EQ(obj.DownLoadEnd("user", "pw"), kS_OK);
    user.Stop();
    EXPECT_TRUE(user.Boxes().empty());
    EXPECT_NE(g_shown.dialog, nullptr) << "the gate ran the check";
    EXPECT_FALSE(g_shown.visible);
    const auto starts = Events("TARVOSKDown.exe", "start");
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].args.at(0), "bbs");
    ASSERT_TRUE(WaitUntil([&] { return !Events("TARVOSKDown.exe", "record").empty(); }, 10000));
    EXPECT_EQ(Events("TARVOSKDown.exe", "record")[0].text, "7#<C:\\down\\file.txt");
    EXPECT_FALSE(InstallerRan());
}

// The bar positions with the status line shown before each; the reset to 0
// that comes before any text is checked and left out.
std::vector<std::pair<std::wstring, int>> ProgressAfterReset() {
    std::lock_guard<std::mutex> g(g_shown.lock);
    std::vector<std::pair<std::wstring, int>> out = g_shown.progress;
    EXPECT_FALSE(out.empty());
    if (out.empty()) return out;
    EXPECT_EQ(out.front(), std::make_pair(std::wstring(), 0));
    out.erase(out.begin());
    return out;
}

// ---------------------------------------------------------------------------
// Fresh install

TEST_F(UpdateDialogTest, FreshInstallDownloadsRunsTheInstallerAndTheHandOffReachesTheClient) {
    SwitchServer("chunk=8192\nslow_ms=20\n");
    User user;
    WebBBS obj(DialogPlatform());
    obj.DownLoadInfo("1", "C:\\down\\a.txt");
    EXPECT_EQ(obj.DownLoadEnd("user", "pw"), kS_OK);
    user.Stop();
    EXPECT_TRUE(user.Boxes().empty());
    EXPECT_TRUE(g_shown.visible);

    EXPECT_EQ(ReadFileBytes(InstallDir() + "ver.ini"), kServed);
    for (const char* client : {"TARVOSKUp.exe", "TARVOSKDown.exe", "Explorer.exe"})
        EXPECT_NE(GetFileAttributesA((InstallDir() + client).c_str()), INVALID_FILE_ATTRIBUTES)
            << client;
    EXPECT_EQ(Requests(), "/client/ver.ini 200\n/client/setup.exe 200\n");

    // The hand-off that asked started the freshly installed client.
    const auto starts = Events("TARVOSKDown.exe", "start");
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].args.at(0), "bbs");
    EXPECT_EQ(starts[0].args.at(1), "user");
    ASSERT_TRUE(WaitUntil([&] { return !Events("TARVOSKDown.exe", "record").empty(); }, 10000));
    EXPECT_EQ(Events("TARVOSKDown.exe", "record")[0].text, "1#<C:\\down\\a.txt");
}

TEST_F(UpdateDialogTest, FreshInstallShowsProgressThenInstallsAndEndsWithOne) {
    SwitchServer("chunk=16384\nslow_ms=20\n");
    const std::string setup = ReadFileBytes(ServerDir() + "client\\setup.exe");
    const std::wstring total = Wide(FormatSize(static_cast<DWORD>(setup.size())));

    EXPECT_EQ(RunCheck(), 1);
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(g_shown.visible);
    EXPECT_EQ(g_shown.caption, kCaption);
    EXPECT_EQ(g_shown.rangeHigh, 100);
    ASSERT_FALSE(g_shown.statuses.empty());
    EXPECT_EQ(g_shown.statuses.back(), kInstalling);

    // Once the size is known every line names it, and the bar only grows.
    int last = 0;
    int sized = 0;
    for (const auto& [text, pos] : ProgressAfterReset()) {
        EXPECT_EQ(text.rfind(L"Downloaded.. ", 0), 0u) << Ansi(text);
        if (text.find(L" of ") == std::wstring::npos) continue;
        ++sized;
        EXPECT_EQ(text.substr(text.size() - total.size() - 7), total + L"       ") << Ansi(text);
        EXPECT_GE(pos, last);
        last = pos;
    }
    EXPECT_GE(sized, 3);
    EXPECT_EQ(last, 100);
    EXPECT_EQ(ReadFileBytes(temp + "install_result"), "0");
    EXPECT_EQ(ReadFileBytes(InstallDir() + "ver.ini"), kServed);

    // It ran from a new folder of its own under the temporary folder, as
    // its current folder, and that folder is gone now that it has ended.
    const std::string setupLog = ReadFileBytes(temp + "trv_setup.log");
    const std::size_t at = setupLog.find("folder " + temp + "TRVSetup-");
    ASSERT_NE(at, std::string::npos) << setupLog;
    const std::string folder = setupLog.substr(7 + at, setupLog.find('\r', at) - at - 7);
    EXPECT_EQ(folder.size(), temp.size() + 9 + 16) << folder;
    EXPECT_NE(setupLog.find("program " + folder + "\\setup.exe"), std::string::npos) << setupLog;
    EXPECT_TRUE(NoRunFolderLeft());
}

// A small file served in known pieces: byte counts below 1 KB show exactly,
// so each line can be checked against its bar position.
TEST_F(UpdateDialogTest, ProgressPercentagesAreTruncatedAndANonProgramIsNotRun) {
    ASSERT_TRUE(WriteFileBytes(ServerDir() + "client\\thousand.bin", std::string(1000, 'x')));
    SwitchServer("setup_file=thousand.bin\nchunk=333\nslow_ms=150\n");

    EXPECT_EQ(RunCheck(), 2);
    // Not a signed program: refused before anything could start it.
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], kInstallerUntrustedMessage);

    std::set<int> seen;
    for (const auto& [text, pos] : ProgressAfterReset()) {
        const std::string line = Ansi(text);
        const std::string prefix = "Downloaded.. ";
        ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;
        if (line.find(" of ") == std::string::npos) continue;
        const long got = std::strtol(line.c_str() + prefix.size(), nullptr, 10);
        EXPECT_EQ(line, prefix + FormatSize(got) + " of " + FormatSize(1000) + "       ");
        EXPECT_EQ(pos, got * 100 / 1000) << line;
        seen.insert(pos);
    }
    // 666 of 1000 is 66 and 999 is 99, never rounded up.
    EXPECT_TRUE(seen.count(33)) << "pieces of 333 bytes";
    EXPECT_TRUE(seen.count(66));
    EXPECT_TRUE(seen.count(99));
    EXPECT_TRUE(seen.count(100));
}

TEST_F(UpdateDialogTest, ServerWithoutSizeLeavesTheBarAtZeroAndTheLineWithoutTotal) {
    ASSERT_TRUE(WriteFileBytes(ServerDir() + "client\\thousand.bin", std::string(1000, 'x')));
    SwitchServer("setup_file=thousand.bin\nno_length=1\nchunk=333\nslow_ms=150\n");

    EXPECT_EQ(RunCheck(), 2);
    bool sawBytes = false;
    for (const auto& [text, pos] : ProgressAfterReset()) {
        const std::string line = Ansi(text);
        EXPECT_EQ(line.find(" of "), std::string::npos) << line;
        EXPECT_EQ(pos, 0) << line;
        const long got = std::strtol(line.c_str() + 13, nullptr, 10);
        EXPECT_EQ(line, "Downloaded.. " + FormatSize(got));
        sawBytes = sawBytes || got > 0;
    }
    EXPECT_TRUE(sawBytes);
}

// ---------------------------------------------------------------------------
// Failures

TEST_F(UpdateDialogTest, ServerDownShowsBothMessagesInOrderAndEndsWithTwo) {
    InstallVersion(kServed);
    SwitchServer("down=1\n");
    EXPECT_EQ(RunCheck(), 2);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0], kDownloadFailed);
    EXPECT_EQ(boxes[1], kServerVersion);
    EXPECT_FALSE(g_shown.visible);
    EXPECT_FALSE(InstallerRan());
}

TEST_F(UpdateDialogTest, ServerDownWithAnEarlierCopyComparesThatCopy) {
    SwitchServer("down=1\n");
    InstallVersion(kServed);
    ASSERT_TRUE(WriteFileBytes(temp + "_ver.ini", kServed));
    EXPECT_EQ(RunCheck(), 1);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], kDownloadFailed);

    // A different earlier copy: the update does not start, the dialog is ending.
    g_shown.Clear();
    ASSERT_TRUE(WriteFileBytes(temp + "_ver.ini", "TARVOSK client 2.3.0\r\n"));
    EXPECT_EQ(RunCheck(), 2);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], kDownloadFailed);
    EXPECT_FALSE(g_shown.visible);
    EXPECT_FALSE(InstallerRan());
}

TEST_F(UpdateDialogTest, VersionFileNotFoundIsAFailedDownloadAndTheErrorPageIsNotCompared) {
    InstallVersion(kServed);
    SwitchServer("missing=ver.ini\n");
    EXPECT_EQ(RunCheck(), 2);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0], kDownloadFailed);
    EXPECT_EQ(boxes[1], kServerVersion);
    EXPECT_EQ(Requests(), "/client/ver.ini 404\n");
    EXPECT_EQ(GetFileAttributesA((temp + "_ver.ini").c_str()), INVALID_FILE_ATTRIBUTES);

    // An earlier good copy survives the error page.
    ASSERT_TRUE(WriteFileBytes(temp + "_ver.ini", kServed));
    EXPECT_EQ(RunCheck(), 1);
    EXPECT_EQ(ReadFileBytes(temp + "_ver.ini"), kServed);
}

TEST_F(UpdateDialogTest, InstallerNotFoundIsAFailedDownloadAndNothingIsRun) {
    SwitchServer("missing=setup.exe\n");
    EXPECT_EQ(RunCheck(), 2);
    EXPECT_TRUE(g_shown.visible);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], kDownloadFailed);
    EXPECT_EQ(Requests(), "/client/ver.ini 200\n/client/setup.exe 404\n");
    EXPECT_TRUE(NoRunFolderLeft());
    EXPECT_FALSE(InstallerRan());
    EXPECT_EQ(GetFileAttributesA((InstallDir() + "ver.ini").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(UpdateDialogTest, InstallerCutShortAfterProgressIsAFailedDownload) {
    const std::string setup = ReadFileBytes(ServerDir() + "client\\setup.exe");
    SwitchServer("chunk=8192\nslow_ms=40\ncut=" + std::to_string(setup.size() / 2) + "\n");
    EXPECT_EQ(RunCheck(), 2);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], kDownloadFailed);
    int highest = 0;
    for (int pos : g_shown.positions) highest = pos > highest ? pos : highest;
    EXPECT_GT(highest, 20) << "progress was shown before the failure";
    EXPECT_LT(highest, 100);
    EXPECT_FALSE(InstallerRan());
    EXPECT_TRUE(NoRunFolderLeft());
}

// Every installer the publisher pin and the trusted chain do not vouch for is
// refused after a good download: the message, code 2, nothing run, file gone.
TEST_F(UpdateDialogTest, InstallerWithoutTheServiceSignatureIsRefusedAndDeleted) {
    const std::string rig = BuildDir() + "\\test-signing\\installer\\";
    for (const char* variant : {"unsigned", "tampered", "untrusted-root", "self-signed",
                                "no-codesign-eku", "other-publisher"}) {
        SCOPED_TRACE(variant);
        const std::string name = std::string(variant) + ".exe";
        ASSERT_TRUE(CopyFileA((rig + name).c_str(), (ServerDir() + "client\\" + name).c_str(),
                              FALSE));
        SwitchServer("setup_file=" + name + "\n");
        g_shown.Clear();
        EXPECT_EQ(RunCheck(), 2);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0], kInstallerUntrustedMessage);
        EXPECT_FALSE(InstallerRan());
        EXPECT_TRUE(NoRunFolderLeft());
        EXPECT_EQ(GetFileAttributesA((InstallDir() + "ver.ini").c_str()), INVALID_FILE_ATTRIBUTES);
    }
}

TEST_F(UpdateDialogTest, InstallerReportingMinusOneEndsWithTwo) {
    SetEnv("TRV_SETUP_RESULT", "-1");
    EXPECT_EQ(RunCheck(), 2);
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(InstallerRan());
    EXPECT_EQ(ReadFileBytes(temp + "install_result"), "-1");
}

// The installer ends without a whole result. Closing does nothing until the
// user has been told (`status`); then `close` ends the dialog with 2.
void CloseAfterInstallerGone(const std::wstring& goneStatus,
                             const std::function<void(HWND)>& close, int& code,
                             bool& stillOpenAfterEarlyEsc, int& attempts) {
    std::atomic<int> tries{0};
    std::atomic<bool> stillOpen{false};
    User user([&](HWND dialog) {
        std::wstring status;
        {
            std::lock_guard<std::mutex> g(g_shown.lock);
            if (!g_shown.statuses.empty()) status = g_shown.statuses.back();
        }
        if (status == kInstalling && tries == 0) {
            PostMessageW(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
            PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
            ++tries;
            Sleep(500);
            stillOpen = IsWindow(dialog) && IsWindowVisible(dialog);
        } else if (status == goneStatus && tries == 1) {
            close(dialog);
            ++tries;
        }
    });
    code = RunFileUpdateCheck();
    user.Stop();
    EXPECT_TRUE(user.Boxes().empty());
    EXPECT_FALSE(user.TimedOut());
    stillOpenAfterEarlyEsc = stillOpen;
    attempts = tries;
}

// No result, a result that is a folder, one locked by a helper the installer
// left running: after the grace the user is told and may close with 2.
TEST_F(UpdateDialogTest, InstallerEndingWithoutAReadableResultLetsTheUserCloseWithTwo) {
    const auto esc = [](HWND d) { PostMessageW(d, WM_KEYDOWN, VK_ESCAPE, 0); };
    const auto closeBox = [](HWND d) { PostMessageW(d, WM_SYSCOMMAND, SC_CLOSE, 0); };
    struct Case {
        const char* result;
        const wchar_t* status;
        std::function<void(HWND)> close;
    };
    const Case cases[] = {
        {"none", kInstallerGoneStatus, esc},
        {"none", kInstallerGoneStatus, closeBox},
        {"folder", kResultUnreadableStatus, esc},
        {"locked", kResultUnreadableStatus, closeBox},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.result);
        ASSERT_TRUE(ClearResult());
        SetEnv("TRV_SETUP_RESULT", c.result);
        SetEnv("TRV_SETUP_HOLD_MS", "5000");
        g_shown.Clear();
        // The stand-in installs even when it leaves no result.
        DeleteFileA((InstallDir() + "ver.ini").c_str());
        DeleteFileA((temp + "trv_setup.log").c_str());
        int code = 0, attempts = 0;
        bool stillOpen = false;
        CloseAfterInstallerGone(c.status, c.close, code, stillOpen, attempts);
        EXPECT_EQ(code, 2);
        EXPECT_TRUE(stillOpen) << "closing before the user was told did nothing";
        EXPECT_EQ(attempts, 2);
        EXPECT_TRUE(InstallerRan());
        ASSERT_FALSE(g_shown.statuses.empty());
        EXPECT_EQ(g_shown.statuses.back(), c.status);
        // Also once the helper the "locked" installer left in its folder has gone.
        EXPECT_TRUE(NoRunFolderLeft());
    }
}

// Written as "-" and then "-1" (or as an empty file and then "0"): only the
// whole text counts, however many ticks see the part.
TEST_F(UpdateDialogTest, AResultWrittenInTwoStepsCountsOnlyWhenWhole) {
    SetEnv("TRV_SETUP_RESULT_STEP_MS", "2500");
    const std::pair<const char*, int> cases[] = {{"-1", 2}, {"0", 1}};
    for (const auto& [result, expected] : cases) {
        SCOPED_TRACE(result);
        ASSERT_TRUE(ClearResult());
        DeleteFileA((InstallDir() + "ver.ini").c_str());
        DeleteFileA((temp + "trv_setup.log").c_str());
        SetEnv("TRV_SETUP_RESULT", result);
        g_shown.Clear();
        EXPECT_EQ(RunCheck(), expected);
        EXPECT_TRUE(boxes.empty());
        EXPECT_EQ(ReadFileBytes(temp + "install_result"), result);
        EXPECT_NE(ReadFileBytes(temp + "trv_setup.log").find("result part"), std::string::npos);
    }
}

// Another program keeps an old result in place: it would be read as this
// run's, so the run fails before anything is fetched.
TEST_F(UpdateDialogTest, AStaleResultThatCannotBeDeletedFailsTheRun) {
    const std::string result = temp + "install_result";
    struct Case {
        const char* name;
        std::function<HANDLE()> plant;  // returns a handle to hold, or nullptr
    };
    const Case cases[] = {
        {"held open without delete sharing",
         [&] {
             WriteFileBytes(result, "0");
             return CreateFileA(result.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
         }},
        {"a folder", [&] { return CreateDirectoryA(result.c_str(), nullptr) ? nullptr : INVALID_HANDLE_VALUE; }},
        {"read-only",
         [&] {
             WriteFileBytes(result, "0");
             return SetFileAttributesA(result.c_str(), FILE_ATTRIBUTE_READONLY) ? nullptr
                                                                                : INVALID_HANDLE_VALUE;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(ClearResult());
        DeleteFileA((ServerDir() + "requests.log").c_str());
        g_shown.Clear();
        HANDLE held = c.plant();
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        EXPECT_EQ(RunCheck(), 2);
        if (held) CloseHandle(held);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0], kDownloadFailed);
        EXPECT_EQ(Requests(), "/client/ver.ini 200\n") << "the installer was never fetched";
        EXPECT_FALSE(InstallerRan());
        EXPECT_TRUE(NoRunFolderLeft());
    }
}

TEST_F(UpdateDialogTest, OldResultIsDeletedBeforeTheNewDownload) {
    ASSERT_TRUE(WriteFileBytes(temp + "install_result", "-1"));
    SetEnv("TRV_SETUP_DELAY_MS", "2500");
    EXPECT_EQ(RunCheck(), 1);
    EXPECT_EQ(ReadFileBytes(temp + "install_result"), "0");
}

TEST_F(UpdateDialogTest, EscAndCloseBoxDoNothingWhileTheInstallerRuns) {
    SetEnv("TRV_SETUP_DELAY_MS", "4000");
    std::atomic<bool> tried{false};
    std::atomic<bool> survived{false};
    DWORD triedAt = 0;
    const int code = RunCheck([&](HWND dialog) {
        std::wstring status;
        {
            std::lock_guard<std::mutex> g(g_shown.lock);
            if (!g_shown.statuses.empty()) status = g_shown.statuses.back();
        }
        if (status == kInstalling && !tried) {
            tried = true;
            triedAt = GetTickCount();
            PostMessageW(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
            PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
            PostMessageW(dialog, WM_CLOSE, 0, 0);
            Sleep(1500);
            survived = IsWindow(dialog) && IsWindowVisible(dialog);
        }
    });
    EXPECT_TRUE(tried);
    EXPECT_TRUE(survived);
    EXPECT_EQ(code, 1) << "the installer's result still ends it";
    EXPECT_GE(GetTickCount() - triedAt, 2000u);
}

TEST_F(UpdateDialogTest, ResultWrittenWhileTheInstallerStillRunsEndsAtTheNextTick) {
    SetEnv("TRV_SETUP_LINGER_MS", "10000");
    EXPECT_EQ(RunCheck(), 1);
    const std::string setupLog = ReadFileBytes(temp + "trv_setup.log");
    EXPECT_NE(setupLog.find("result 0"), std::string::npos);
    EXPECT_EQ(setupLog.find("end"), std::string::npos) << "the installer was not waited for";
    ASSERT_EQ(RunFolders().size(), foldersBefore.size() + 1) << "it still runs from its folder";
    EXPECT_TRUE(NoRunFolderLeft()) << "its folder goes once it has ended";
}

// ---------------------------------------------------------------------------
// Hostile programs and networks

// Another program of the user replaces every complete setup.exe it can find
// under the temporary folder with its own program, all through the run and
// once more at the moment the dialog takes its download thread's report.
// Whatever it manages, its program never starts: the run installs the
// checked file or refuses the swapped one.
TEST_F(UpdateDialogTest, AnInstallerSwappedAfterItsCheckNeverStarts) {
    const std::string evil = temp + "evil.exe";  // logs as TARVOSKUp.exe if it ever runs
    ASSERT_TRUE(CopyFileA((BuildDir() + "\\testbed\\TARVOSKUp.exe").c_str(), evil.c_str(), FALSE));
    const std::string served = ReadFileBytes(ServerDir() + "client\\setup.exe");
    std::atomic<int> attempts{0};
    std::mutex attackLock;
    const auto attack = [&] {
        std::lock_guard<std::mutex> g(attackLock);
        for (const std::string& folder : RunFolders()) {
            const std::string target = folder + "setup.exe";
            WIN32_FILE_ATTRIBUTE_DATA data;
            if (!GetFileAttributesExA(target.c_str(), GetFileExInfoStandard, &data) ||
                data.nFileSizeLow != served.size())
                continue;
            ++attempts;
            CopyFileA(evil.c_str(), target.c_str(), FALSE);
            if (MoveFileExA(target.c_str(), (target + ".old").c_str(), MOVEFILE_REPLACE_EXISTING))
                CopyFileA(evil.c_str(), target.c_str(), FALSE);
        }
    };
    std::atomic<bool> stop{false};
    std::thread hammer([&] {
        while (!stop) attack();
    });
    g_beforeWorkerReport = attack;
    const int code = RunCheck();
    g_beforeWorkerReport = nullptr;
    stop = true;
    hammer.join();

    EXPECT_GT(attempts, 0) << "the swap was never tried on a complete installer";
    EXPECT_TRUE(Events("TARVOSKUp.exe", "start").empty()) << "the swapped program ran";
    if (code == 1) {
        EXPECT_TRUE(boxes.empty());
        EXPECT_TRUE(InstallerRan());
    } else {
        EXPECT_EQ(code, 2);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0], kInstallerUntrustedMessage);
        EXPECT_FALSE(InstallerRan());
    }
    EXPECT_TRUE(NoRunFolderLeft());
}

// The installer's body stops halfway and the connection stays open. While
// the dialog waits, another program posts it everything that could move it
// on; nothing does. The stall bound then ends the run like any failed
// download, and the module stays loaded exactly as long as the thread runs.
TEST_F(UpdateDialogTest, AStalledInstallerFailsAndMessagesFromOtherProgramsDoNothing) {
    SwitchServer("chunk=4096\nstall_after=40000\n");
    ASSERT_TRUE(WriteFileBytes(temp + "install_result", "0"));  // planted for a false timer 2
    struct Posted {
        UINT message;
        WPARAM wParam;
    };
    const Posted posted[] = {
        {WM_INSTALL_RESULT, 1}, {WM_INSTALL_RESULT, 0},   {WM_INSTALLER_DOWNLOADED, 0},
        {WM_INSTALLER_DOWNLOADED, 1}, {WM_INSTALLER_DOWNLOADED, 2}, {WM_INSTALLER_PROGRESS, 0},
        {WM_TIMER, kDownloadTimer}, {WM_TIMER, kResultTimer},
    };  // a close is the user's way out of a download: it fails the run (below)
    std::atomic<bool> sent{false}, survived{false};
    std::atomic<LONG> holdsWhileStalled{0};
    const int code = RunCheckWith(ShortBounds(), [&](HWND dialog) {
        int position = 0;
        {
            std::lock_guard<std::mutex> g(g_shown.lock);
            if (!g_shown.positions.empty()) position = g_shown.positions.back();
        }
        if (sent || position == 0) return;  // not yet into the body
        sent = true;
        holdsWhileStalled = ModuleHoldCount();
        for (const Posted& p : posted) PostMessageW(dialog, p.message, p.wParam, 0);
        Sleep(800);
        survived = IsWindow(dialog) && IsWindowVisible(dialog);
    });
    EXPECT_TRUE(sent);
    EXPECT_TRUE(survived) << "a posted message ended the dialog";
    EXPECT_EQ(code, 2);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], kDownloadFailed);
    EXPECT_EQ(Requests(), "/client/ver.ini 200\n/client/setup.exe 200\n")
        << "a posted timer 1 started no second download";
    EXPECT_FALSE(InstallerRan());
    EXPECT_TRUE(NoRunFolderLeft());
    EXPECT_GE(holdsWhileStalled, 1) << "the download thread holds the module";
    EXPECT_TRUE(WaitUntil([] { return ModuleHoldCount() == 0; }, 15000))
        << "the download thread still holds the module after the run";
}

// A server that accepts and never answers the version file: the same two
// messages as a server that is down, and the dialog is never shown.
TEST_F(UpdateDialogTest, AVersionFileThatNeverComesEndsLikeAServerThatIsDown) {
    InstallVersion(kServed);
    SwitchServer("hang=ver.ini\n");
    EXPECT_EQ(RunCheckWith(ShortBounds()), 2);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0], kDownloadFailed);
    EXPECT_EQ(boxes[1], kServerVersion);
    EXPECT_FALSE(g_shown.visible);
    EXPECT_EQ(Requests(), "/client/ver.ini hang\n");
}

// An installer that never starts, never ends or is announced beyond the cap.
TEST_F(UpdateDialogTest, AnInstallerThatNeverComesOrIsTooLargeFailsTheDownload) {
    const std::pair<const char*, const char*> cases[] = {
        {"no answer at all", "hang=setup.exe\n"},
        {"endless, no size given", "oversize=8000000\nno_length=1\nchunk=65536\n"},
        {"announced beyond the cap", "oversize=8000000\n"},
    };
    for (const auto& [name, server] : cases) {
        SCOPED_TRACE(name);
        SwitchServer(server);
        g_shown.Clear();
        EXPECT_EQ(RunCheckWith(ShortBounds()), 2);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0], kDownloadFailed);
        EXPECT_FALSE(InstallerRan());
        EXPECT_TRUE(NoRunFolderLeft());
    }
}

// The same update over TLS: with a certificate from the root the machine
// trusts it installs; with one from a root it does not trust no request is
// ever made and it fails like a server that is down.
TEST_F(UpdateDialogTest, UpdatesOverTlsOnlyFromACertificateTheMachineTrusts) {
    const std::string port = ReadFileBytes(ServerDir() + "tls_port");
    ASSERT_FALSE(port.empty()) << "the update server serves no TLS (no signing rig?)";
    UpdateSettings settings = DefaultUpdateSettings();
    settings.server = "https://127.0.0.1:" + port;

    SwitchServer("tls_cert=untrusted\n");
    EXPECT_EQ(RunCheckWith(settings), 2);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0], kDownloadFailed);
    EXPECT_EQ(boxes[1], kServerVersion);
    EXPECT_EQ(Requests().find("/client/"), std::string::npos) << Requests();

    SwitchServer("");
    DeleteFileA((ServerDir() + "requests.log").c_str());
    g_shown.Clear();
    EXPECT_EQ(RunCheckWith(settings), 1);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(Requests(), "/client/ver.ini 200\n/client/setup.exe 200\n");
    EXPECT_EQ(ReadFileBytes(InstallDir() + "ver.ini"), kServed);
    EXPECT_TRUE(InstallerRan());
}

// The support log of the module linked into this test, on or off.
void SupportLogOn(bool on) {
    const DWORD one = 1;
    if (on) RegSetKeyValueA(HKEY_CURRENT_USER, "Software\\TARVOSK", "SupportLog", REG_DWORD, &one, 4);
    else RegDeleteKeyValueA(HKEY_CURRENT_USER, "Software\\TARVOSK", "SupportLog");
    SystemSupportLog().ReadSwitch();
    SetSupportLog(on ? &SystemSupportLog() : nullptr);
}

// What the object's access list lets anyone do beyond reading and running;
// empty when sealed: protected, its own entries only, an OWNER RIGHTS entry.
std::string SealFlaws(HANDLE object) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0, size = SECURITY_MAX_SID_SIZE;
    BYTE ownerRights[SECURITY_MAX_SID_SIZE];
    if (GetSecurityInfo(object, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                        &dacl, nullptr, &sd) != ERROR_SUCCESS || !dacl ||
        !GetSecurityDescriptorControl(sd, &control, &revision) ||
        !CreateWellKnownSid(WinCreatorOwnerRightsSid, nullptr, ownerRights, &size))
        return "no list";
    std::string flaws = (control & SE_DACL_PROTECTED) ? "" : "inherits; ";
    bool owner = false;
    ACCESS_ALLOWED_ACE* ace = nullptr;
    for (DWORD i = 0; i < dacl->AceCount && GetAce(dacl, i, reinterpret_cast<void**>(&ace)); ++i) {
        if (ace->Mask & (WRITE_DAC | WRITE_OWNER | DELETE)) flaws += "lets relist or remove; ";
        else if (ace->Mask & ~(FILE_GENERIC_READ | FILE_GENERIC_EXECUTE)) flaws += "lets change; ";
        if (ace->Header.AceFlags & INHERITED_ACE) flaws += "inherited; ";
        owner = owner || EqualSid(&ace->SidStart, ownerRights);
    }
    LocalFree(sd);
    return owner ? flaws : flaws + "owner may give rights back";
}

// What the last NtCreateFile through this program's own import asked for;
// the list it set is set on an object that keeps one (Wine keeps none on folders).
ACCESS_MASK g_access = 0;
ULONG g_share = 0;
HANDLE g_listed = nullptr;
const auto g_realCreate = reinterpret_cast<decltype(&NtCreateFile)>(
    GetProcAddress(GetModuleHandleW(L"ntdll"), "NtCreateFile"));
NTSTATUS NTAPI RecordCreate(PHANDLE h, ACCESS_MASK access, POBJECT_ATTRIBUTES object,
                            PIO_STATUS_BLOCK io, PLARGE_INTEGER size, ULONG attributes, ULONG share,
                            ULONG disposition, ULONG options, PVOID ea, ULONG eaSize) {
    g_access = access;
    g_share = share;
    SetKernelObjectSecurity(g_listed, DACL_SECURITY_INFORMATION, object->SecurityDescriptor);
    return g_realCreate(h, access, object, io, size, attributes, share, disposition, options, ea,
                        eaSize);
}

// Points this program's import slot that holds `from` at `to`.
bool RedirectImport(const void* from, const void* to) {
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    const auto& table = reinterpret_cast<IMAGE_NT_HEADERS*>(
                            base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew)
                            ->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IAT];
    auto** slots = reinterpret_cast<const void**>(base + table.VirtualAddress);
    for (DWORD i = 0, was = 0; i < table.Size / sizeof *slots; ++i) {
        if (slots[i] != from) continue;
        VirtualProtect(&slots[i], sizeof *slots, PAGE_READWRITE, &was);
        slots[i] = to;
        return VirtualProtect(&slots[i], sizeof *slots, was, &was);
    }
    return false;
}

// A program of the user that watches the temporary folder must never get a
// handle that may change the run folder's list: the folder is made with its
// downloading list (nobody may relist or remove it, its owner included) by
// a create that keeps the only handle with that right, for the seal.
TEST_F(UpdateDialogTest, TheRunFolderIsBornLockedAndOnlyItsOwnHandleCanSealIt) {
    const std::string folder = temp + "TRVSetup-born-locked\\";
    UniqueHandle object(g_listed = CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(RedirectImport(reinterpret_cast<void*>(g_realCreate),
                               reinterpret_cast<void*>(&RecordCreate)));
    UniqueHandle pin = CreateRunFolderPinned(folder);
    RedirectImport(reinterpret_cast<void*>(&RecordCreate), reinterpret_cast<void*>(g_realCreate));
    ASSERT_TRUE(pin.Valid());
    EXPECT_FALSE(CreateRunFolderPinned(folder).Valid()) << "an existing folder taken over";
    EXPECT_TRUE(g_access & WRITE_DAC) << "the seal needs it";
    EXPECT_FALSE(g_share & FILE_SHARE_DELETE) << "renamed under the pin";
    EXPECT_EQ(SealFlaws(object.Get()), "lets change; lets change; ");
    ASSERT_TRUE(SealRunFolder(object.Get()));
    EXPECT_EQ(SealFlaws(object.Get()), "");
    EXPECT_TRUE(RemoveFolderPinned(folder, pin));
}

// Another program of the user puts something beside the installer while it
// downloads (a DLL an elevated installer would load, a subfolder, a second
// program): the sealed folder's listing fails the run as a failed download,
// and the folder still goes.
TEST_F(UpdateDialogTest, ADllPlantedBesideTheInstallerFailsTheRunInItsSealedFolder) {
    // A dropped DLL, a subfolder, a second program.
    const std::pair<const char*, bool> cases[] = {{"version.dll", false}, {"sub", true}, {"setup2.exe", false}};
    SwitchServer("chunk=8192\nslow_ms=20\n");
    SupportLogOn(true);
    for (const auto& [name, folder] : cases) {
        SCOPED_TRACE(name);
        DeleteFileA((temp + "TRVControl.log").c_str());
        std::atomic<bool> planted{false};
        EXPECT_EQ(RunCheck([&, name = name, folder = folder](HWND) {
                      for (const std::string& f : RunFolders())
                          if (!planted && !foldersBefore.count(f))
                              planted = folder ? CreateDirectoryA((f + name).c_str(), nullptr) != FALSE
                                               : WriteFileBytes(f + name, "MZ");
                  }),
                  2);
        EXPECT_TRUE(planted);
        EXPECT_EQ(boxes, std::vector<std::wstring>{kDownloadFailed});
        EXPECT_FALSE(InstallerRan());
        EXPECT_NE(ReadFileBytes(temp + "TRVControl.log").find("folder holds something else"), std::string::npos);
        EXPECT_TRUE(NoRunFolderLeft());
    }
    SupportLogOn(false);
}

// Every wait ends where the user sees it. A version file or an installer
// trickled a byte at a time never stalls, yet ends at its deadline; closing
// the dialog (close box, Esc) while the installer comes ends the run at
// once. Each is a failed download, the server sees the transfer dropped,
// and the support log says which.
TEST_F(UpdateDialogTest, ATrickleEndsAtItsDeadlineAndClosingAbortsTheDownload) {
    UpdateSettings deadlines = DefaultUpdateSettings();
    deadlines.version.totalMs = 3000;
    deadlines.installer.totalMs = 4000;
    using Close = std::function<void(HWND)>;
    const Close closeBox = [](HWND d) { PostMessageW(d, WM_SYSCOMMAND, SC_CLOSE, 0); };
    const Close esc = [](HWND d) { PostMessageW(d, WM_KEYDOWN, VK_ESCAPE, 0); };
    const std::vector<std::wstring> failed{kDownloadFailed}, bothFailed{kDownloadFailed, kServerVersion};
    const std::tuple<const char*, UpdateSettings, Close, std::vector<std::wstring>, const char*> cases[] = {
        {"ver.ini", deadlines, nullptr, bothFailed, "version file download failed (timed-out)"},
        {"setup.exe", deadlines, nullptr, failed, "installer download failed (timed-out)"},
        {"setup.exe", DefaultUpdateSettings(), closeBox, failed, "installer download failed (cancelled)"},
        {"setup.exe", DefaultUpdateSettings(), esc, failed, "installer download failed (cancelled)"},
    };
    SupportLogOn(true);
    for (const auto& [trickled, settings, close, expectedBoxes, reason] : cases) {
        SCOPED_TRACE(reason);
        SwitchServer(std::string("trickle=") + trickled + "\n");
        DeleteFileA((ServerDir() + "requests.log").c_str());
        DeleteFileA((temp + "_ver.ini").c_str());
        DeleteFileA((temp + "TRVControl.log").c_str());
        std::atomic<bool> closed{false};
        EXPECT_EQ(RunCheckWith(settings, [&](HWND dialog) {
                      // Closed once the server sends the installer.
                      if (close && !closed && Requests().find("setup.exe 200") != std::string::npos)
                          close(dialog), closed = true;
                  }),
                  2);
        EXPECT_EQ(boxes, expectedBoxes);
        EXPECT_EQ(closed, close != nullptr);
        const std::string dropped = std::string("/client/") + trickled + " aborted";
        EXPECT_TRUE(WaitUntil([&] { return Requests().find(dropped) != std::string::npos; }, 5000)) << Requests();
        EXPECT_NE(ReadFileBytes(temp + "TRVControl.log").find(reason), std::string::npos);
        EXPECT_FALSE(InstallerRan());
        EXPECT_TRUE(NoRunFolderLeft());
        EXPECT_TRUE(WaitUntil([] { return ModuleHoldCount() == 0; }, 15000)) << "the thread has ended";
    }
    SupportLogOn(false);
}

// The dialog mid-download, saved for people to look at (converted to PNG by
// the test update_dialog_screenshot). Its frame and caption are on the screen
// only when Wine runs the virtual desktop the prefix is set up with.
TEST_F(UpdateDialogTest, ScreenshotMidDownload) {
    SwitchServer("chunk=8192\nslow_ms=60\n");
    const std::string shot = BuildDir() + "\\artifacts\\update-dialog.bmp";
    ASSERT_TRUE(MakeFolder(BuildDir() + "\\artifacts"));
    DeleteFileA(shot.c_str());

    std::atomic<bool> photographed{false};
    std::atomic<int> captionColours{0};
    const int code = RunCheck([&](HWND dialog) {
        std::wstring status;
        int pos = 0;
        {
            std::lock_guard<std::mutex> g(g_shown.lock);
            if (g_shown.progress.empty()) return;
            status = g_shown.progress.back().first;
            pos = g_shown.progress.back().second;
        }
        if (!photographed && pos >= 20 && pos <= 80 && status.find(L" of ") != std::wstring::npos) {
            Sleep(150);  // the new text painted
            int colours = 0;
            photographed = SaveScreen(shot, dialog, &colours);
            captionColours = colours;
        }
    });
    EXPECT_EQ(code, 1);
    EXPECT_TRUE(photographed) << shot;
    // A drawn caption has its bar and the antialiased text: many colours.
    EXPECT_GE(captionColours, 4) << "no caption on the screen: is Wine's virtual desktop up?";
}

}  // namespace
}  // namespace trv
