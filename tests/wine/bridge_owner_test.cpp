// TRVBridge.exe started as a browser starts it, this program standing in for
// the browser with a window named by --parent-window. Wine does not put the
// threads of an owner and an owned window on one input queue as Windows does,
// so the browser's freeze cannot show here; what decides it can: which window
// the dialogs' owner chain reaches, and when, and whether the host's thread
// keeps taking its messages while the module waits.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "support/wine_support.h"

namespace trv {
namespace {

using namespace winetest;

// A top-level window whose owner chain reaches `target`, or (target null) a
// visible dialog of another program.
BOOL CALLBACK Match(HWND w, LPARAM param) {
    auto& s = *reinterpret_cast<std::pair<HWND, HWND>*>(param);
    for (HWND up = GetWindow(w, GW_OWNER); s.first && up; up = GetWindow(up, GW_OWNER))
        if (up == s.first) s.second = w;
    DWORD process = 0;
    char kind[8] = {};
    if (!s.first && GetWindowThreadProcessId(w, &process) && process != GetCurrentProcessId() &&
        IsWindowVisible(w) && GetClassNameA(w, kind, sizeof kind) && strcmp(kind, "#32770") == 0)
        s.second = w;
    return s.second ? FALSE : TRUE;
}
HWND Find(HWND target) {
    std::pair<HWND, HWND> s{target, nullptr};
    EnumWindows(Match, reinterpret_cast<LPARAM>(&s));
    return s.second;
}

void Send(HANDLE pipe, const std::string& method, const std::string& args) {
    const std::string body = "{\"id\":1,\"url\":\"http://127.0.0.1:18088/\",\"method\":\"" + method +
                             "\",\"args\":[" + args + "]}";  // a page of the test trees' list
    const DWORD size = static_cast<DWORD>(body.size());
    DWORD wrote = 0;
    WriteFile(pipe, &size, 4, &wrote, nullptr) && WriteFile(pipe, body.data(), size, &wrote, nullptr);
}

std::string Receive(HANDLE pipe) {
    DWORD size = 0, got = 0;
    if (!ReadFile(pipe, &size, 4, &got, nullptr) || got != 4 || size > 65536) return "";
    std::string body(size, '\0');
    for (DWORD done = 0; done < size; done += got)
        if (!ReadFile(pipe, &body[done], size - done, &got, nullptr) || got == 0) return "";
    return body;
}

TEST(BridgeOwner, OnlyTheStartersWindowOwnsTheDialogsOnlyDuringACallAndWaitsTakeMessages) {
    ASSERT_TRUE(InstallStandInClients());
    // A running client passes the install check; its hidden window is another program's.
    ShellExecuteA(nullptr, nullptr, (InstallDir() + "TARVOSKUp.exe").c_str(), "", nullptr, SW_SHOW);
    ASSERT_TRUE(WaitUntil([] { return FindWindowA("tarvosk_class_upload", nullptr) != nullptr; }, 15000));
    SetEnv("TRV_TESTBED_NO_WINDOW", "1");  // the download client the host starts shows none
    SetEnv("TRV_TESTBED_LIFETIME_MS", "30000");
    const HWND browser = CreateWindowA("STATIC", "browser", WS_VISIBLE, 0, 0, 640, 480, nullptr,
                                       nullptr, nullptr, nullptr);
    const struct {
        const char* attack;
        const char* launcher;  // Chrome and Edge start their hosts through cmd.exe
        HWND named;
        const char* method;
        bool owned;  // while the call runs, the dialogs' owner chain reaches `named`
    } cases[] = {
        {"idle_host_holds_no_owner_relation", "", browser, "ShowUpFileDlg", true},
        {"browser_through_command_interpreter", "cmd.exe /d /c ", browser, "ShowUpFileDlg", true},
        {"other_programs_window_never_owns_the_dialogs", "",
         FindWindowA("tarvosk_class_upload", nullptr), "ShowUpFileDlg", false},
        {"client_never_showing_its_window_holds_no_queue", "", browser, "DownLoadEnd", true},
    };
    for (const auto& c : cases) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        HANDLE inRead, inWrite, outRead, outWrite;
        ASSERT_TRUE(CreatePipe(&inRead, &inWrite, &inherit, 0) && CreatePipe(&outRead, &outWrite, &inherit, 0));
        SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0) && SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
        std::string command = c.launcher + ("\"" + BuildDir()) + "\\bridge\\TRVBridge.exe\" x --parent-window=" +
                              std::to_string(reinterpret_cast<UINT_PTR>(c.named));
        STARTUPINFOA start = {};
        start.cb = sizeof start;
        start.dwFlags = STARTF_USESTDHANDLES;
        start.hStdInput = inRead;
        start.hStdOutput = outWrite;
        PROCESS_INFORMATION process;
        ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                   nullptr, nullptr, &start, &process)) << c.attack;
        CloseHandle(inRead) && CloseHandle(outWrite);
        Receive(outRead);  // hello
        Send(inWrite, "DownLoadInfo", "\"1\",\"C:\\\\d\"");
        EXPECT_NE(Receive(outRead).find("\"hr\":0"), std::string::npos) << c.attack;
        EXPECT_EQ(Find(c.named), nullptr) << c.attack << ": before the call";

        bool owned = false, dialog = false, probed = false, hung = false;
        std::atomic<bool> replied{false};
        std::string reply;
        std::thread reader([&] { reply = Receive(outRead); replied = true; });
        Send(inWrite, c.method, c.method == std::string("DownLoadEnd") ? "\"user\",\"pw\"" : "");
        // The wait for the client lasts 20 s, well past the 5 s without taking messages
        // after which a thread counts as hung. This thread takes the host's messages.
        for (const DWORD begin = GetTickCount(); !replied && GetTickCount() - begin < 60000;) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
            for (MSG msg; PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);) DispatchMessageW(&msg);
            owned |= Find(c.named) != nullptr;
            if (HWND own = FindWindowW(L"TRVBridgeOwner", nullptr)) {
                probed = true;
                hung |= IsHungAppWindow(own) != FALSE;
            }
            if (HWND shown = Find(nullptr)) dialog = PostMessageW(shown, WM_COMMAND, IDCANCEL, 0);
        }
        reader.join();
        EXPECT_NE(reply.find("\"hr\":"), std::string::npos) << c.attack;
        EXPECT_EQ(Find(c.named), nullptr) << c.attack << ": after the call";
        EXPECT_EQ(owned, c.owned) << c.attack;
        EXPECT_EQ(dialog, c.method == std::string("ShowUpFileDlg")) << c.attack;
        EXPECT_TRUE(probed && !hung) << c.attack;
        CloseHandle(inWrite);
        EXPECT_EQ(WaitForSingleObject(process.hProcess, 10000), WAIT_OBJECT_0) << c.attack;
        for (HANDLE h : {outRead, process.hProcess, process.hThread}) CloseHandle(h);
    }
    DestroyWindow(browser);
    CloseAllClients();
}

}  // namespace
}  // namespace trv
