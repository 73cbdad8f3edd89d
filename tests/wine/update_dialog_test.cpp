// The install/update dialog under Wine: the real dialog from the resources,
// the stand-in update server (started by a CTest fixture) and the stand-in
// installer. A hook on the dialog's thread records what the dialog shows; a
// watcher thread records and dismisses message boxes and plays the user.
#include <windows.h>
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
#include <vector>

#include "control/webbbs.h"
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
                if (dialog) PostMessageW(dialog, WM_INSTALL_RESULT, 0, 0);
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
    }
    static void TearDownTestSuite() {
        CloseAllClients();
        RemoveInstalledClients();
        DeleteFileA((InstallDir() + "ver.ini").c_str());
        UnhookWindowsHookEx(s_hook);
        CoUninitialize();
    }

    void SetUp() override {
        ASSERT_TRUE(CloseAllClients());
        temp = BuildDir() + "\\update-temp\\";
        ASSERT_TRUE(MakeFolder(temp));
        SetEnv("TMP", temp.c_str());
        SetEnv("TEMP", temp.c_str());
        for (const char* name : {"_ver.ini", "setup.exe", "install_result", "trv_setup.log"})
            DeleteFileA((temp + name).c_str());
        for (const char* v : {"TRV_SETUP_RESULT", "TRV_SETUP_DELAY_MS", "TRV_SETUP_LINGER_MS"})
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
    }
    void TearDown() override { CloseAllClients(); }

    void InstallVersion(const std::string& text) {
        ASSERT_TRUE(MakeFolder(InstallDir()));
        ASSERT_TRUE(WriteFileBytes(InstallDir() + "ver.ini", text));
    }

    // Runs the check as CheckClientReady does, with a user at the screen.
    int RunCheck(User::Step step = nullptr) {
        User user(std::move(step));
        const int code = RunFileUpdateCheck();
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

    static constexpr char kServed[] = "TARVOSK client 2.4.1\r\n";
    static HHOOK s_hook;
    std::string temp;
    std::string log;
    std::vector<std::wstring> boxes;
};
HHOOK UpdateDialogTest::s_hook = nullptr;
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
    EXPECT_EQ(GetFileAttributesA((temp + "setup.exe").c_str()), INVALID_FILE_ATTRIBUTES);
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
    EXPECT_EQ(GetFileAttributesA((temp + "setup.exe").c_str()), INVALID_FILE_ATTRIBUTES);
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
        EXPECT_EQ(GetFileAttributesA((temp + "setup.exe").c_str()), INVALID_FILE_ATTRIBUTES);
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

// The installer ends without a result. Closing does nothing until the user
// has been told; then `close` ends the dialog with 2.
void CloseAfterInstallerGone(const std::function<void(HWND)>& close, int& code,
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
        } else if (status == kInstallerGoneStatus && tries == 1) {
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

TEST_F(UpdateDialogTest, InstallerEndingWithoutResultLetsTheUserCloseWithTwo) {
    SetEnv("TRV_SETUP_RESULT", "none");
    const std::pair<const char*, std::function<void(HWND)>> closers[] = {
        {"Esc", [](HWND d) { PostMessageW(d, WM_KEYDOWN, VK_ESCAPE, 0); }},
        {"close box", [](HWND d) { PostMessageW(d, WM_SYSCOMMAND, SC_CLOSE, 0); }},
    };
    for (const auto& [name, close] : closers) {
        SCOPED_TRACE(name);
        g_shown.Clear();
        // The stand-in installs even when it leaves no result.
        DeleteFileA((InstallDir() + "ver.ini").c_str());
        DeleteFileA((temp + "trv_setup.log").c_str());
        int code = 0, attempts = 0;
        bool stillOpen = false;
        CloseAfterInstallerGone(close, code, stillOpen, attempts);
        EXPECT_EQ(code, 2);
        EXPECT_TRUE(stillOpen) << "closing before the user was told did nothing";
        EXPECT_EQ(attempts, 2);
        EXPECT_TRUE(InstallerRan());
        EXPECT_EQ(GetFileAttributesA((temp + "install_result").c_str()), INVALID_FILE_ATTRIBUTES);
        ASSERT_FALSE(g_shown.statuses.empty());
        EXPECT_EQ(g_shown.statuses.back(), kInstallerGoneStatus);
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
    SetEnv("TRV_SETUP_LINGER_MS", "20000");
    const DWORD start = GetTickCount();
    EXPECT_EQ(RunCheck(), 1);
    EXPECT_LT(GetTickCount() - start, 15000u);
    const std::string setupLog = ReadFileBytes(temp + "trv_setup.log");
    EXPECT_NE(setupLog.find("result 0"), std::string::npos);
    EXPECT_EQ(setupLog.find("end"), std::string::npos) << "the installer was not waited for";
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
