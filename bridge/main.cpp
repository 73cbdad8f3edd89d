// TRVBridge.exe: the native-messaging host of the browser path. The browser
// starts it for one page, talks to it over standard input and output, and
// closes its input when the page goes away. It serves that page with one
// WebBBS object of the registered module, on this thread's apartment.
//
//   TRVBridge.exe [--parent-window=<HWND>] [anything the browser adds]
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <deque>
#include <memory>
#include <new>

#include "bridge/framing.h"
#include "bridge/protocol.h"
#include "bridge/webbbs_client.h"
#include "platform/site_lock.h"
#include "platform/win32/wide_text.h"

#ifndef TRV_BRIDGE_SITES
#error "TRV_BRIDGE_SITES must name the pages the host serves"
#endif

namespace trv::bridge {
namespace {

// Requests read ahead while a call runs (a modal dialog can take minutes);
// past this the reader waits and the browser holds the rest.
constexpr LONG kReadAhead = 16;

HANDLE g_out = INVALID_HANDLE_VALUE;
// Set by the reader once the browser's side is gone (the page went away).
std::atomic<bool> g_inputOver{false};
CriticalSection g_writing;
bool g_outputBroken = false;

bool WriteAll(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD wrote = 0;
        if (!WriteFile(g_out, bytes.data() + done, static_cast<DWORD>(bytes.size() - done),
                       &wrote, nullptr) ||
            wrote == 0)
            return false;
        done += wrote;
    }
    return true;
}

// One whole message, or nothing: one that would reach the browsers' limit
// is not sent (the caller answers with an error instead).
bool Send(const std::string& message) {
    std::string frame;
    if (!EncodeFrame(message, frame)) return false;
    CriticalSectionLock lock(g_writing);
    if (!g_outputBroken && !WriteAll(frame)) g_outputBroken = true;
    return true;
}

// The reader thread: blocking reads of standard input, whole requests handed
// to the main thread in order. It stops after the end or the first error.
class Reader {
public:
    bool Start() {
        m_ready.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        m_slots.Reset(CreateSemaphoreW(nullptr, kReadAhead, kReadAhead, nullptr));
        if (!m_ready.Valid() || !m_slots.Valid() || !m_lock.Valid()) return false;
        m_thread.Reset(CreateThread(nullptr, 0, &Reader::Run, this, 0, nullptr));
        return m_thread.Valid();
    }
    HANDLE Ready() const { return m_ready.Get(); }
    bool Next(Incoming& in) {
        CriticalSectionLock lock(m_lock);
        if (m_queue.empty()) return false;
        in = std::move(m_queue.front());
        m_queue.pop_front();
        ReleaseSemaphore(m_slots.Get(), 1, nullptr);
        return true;
    }

private:
    static DWORD WINAPI Run(void* self) {
        static_cast<Reader*>(self)->Loop();
        return 0;
    }
    void Loop() {
        HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
        const ByteSource source = [in](char* buffer, std::size_t size) -> long {
            DWORD got = 0;
            if (ReadFile(in, buffer, static_cast<DWORD>(size), &got, nullptr))
                return static_cast<long>(got);
            const DWORD error = GetLastError();
            return error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF ? 0 : -1;
        };
        for (;;) {
            WaitForSingleObject(m_slots.Get(), INFINITE);
            Incoming next = ReadRequest(source);
            const bool last = next.kind != Incoming::Kind::Request;
            {
                CriticalSectionLock lock(m_lock);
                m_queue.push_back(std::move(next));
            }
            if (last) g_inputOver = true;
            SetEvent(m_ready.Get());
            if (last) return;
        }
    }

    UniqueHandle m_ready, m_slots, m_thread;
    CriticalSection m_lock;
    std::deque<Incoming> m_queue;
};

// The window the module's dialogs take as owner (they ask GetActiveWindow),
// there only while a call that can open one runs. Owned by the browser's
// window when there is one: Windows then puts this thread and the browser's
// on one input queue for as long as the window exists, so it never exists
// while the host idles, and the module's waits pump meanwhile
// (TRVWaitsServeQueue below). Otherwise top-most, so the dialogs never open
// behind the browser. See-through.
class OwnerWindow {
public:
    explicit OwnerWindow(HWND browser) {
        static const bool registered = Register();
        if (!registered) return;
        // Centred on the browser's window (or the screen), where dialogs centre.
        RECT area = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
        if (browser) GetWindowRect(browser, &area);
        const DWORD exStyle = WS_EX_TOOLWINDOW | WS_EX_LAYERED | (browser ? 0 : WS_EX_TOPMOST);
        m_window = CreateWindowExW(exStyle, kClass, L"TRVBridge", WS_POPUP,
                                   (area.left + area.right) / 2, (area.top + area.bottom) / 2, 1,
                                   1, browser, nullptr, GetModuleHandleW(nullptr), nullptr);
        if (!m_window) return;
        SetLayeredWindowAttributes(m_window, 0, 0, LWA_ALPHA);
        ShowWindow(m_window, SW_SHOWNOACTIVATE);
        SetForegroundWindow(m_window);
        SetActiveWindow(m_window);
    }
    ~OwnerWindow() {
        if (m_window) DestroyWindow(m_window);
    }
    OwnerWindow(const OwnerWindow&) = delete;
    OwnerWindow& operator=(const OwnerWindow&) = delete;

private:
    static constexpr wchar_t kClass[] = L"TRVBridgeOwner";
    // Another program's WM_CLOSE must not take it away under a dialog.
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        return message == WM_CLOSE ? 0 : DefWindowProcW(window, message, wParam, lParam);
    }
    static bool Register() {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = &Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = kClass;
        return RegisterClassW(&wc) != 0;
    }
    HWND m_window = nullptr;
};

// While a call runs, a dialog it opened keeps the host alive after its page
// has gone (the tab closed, say): then the dialogs are closed as a user
// would close them, so the call returns and the host ends.
class PageGoneCloser {
public:
    PageGoneCloser() : m_timer(SetTimer(nullptr, 0, kCheckMs, &PageGoneCloser::Check)) {}
    ~PageGoneCloser() {
        if (m_timer) KillTimer(nullptr, m_timer);
    }

private:
    static constexpr UINT kCheckMs = 250;
    static void CALLBACK Check(HWND, UINT, UINT_PTR, DWORD) {
        if (g_inputOver) EnumThreadWindows(GetCurrentThreadId(), &CloseDialog, 0);
    }
    static BOOL CALLBACK CloseDialog(HWND window, LPARAM) {
        wchar_t kind[8] = {};
        if (IsWindowVisible(window) && GetClassNameW(window, kind, 8) && wcscmp(kind, L"#32770") == 0)
            PostMessageW(window, WM_CLOSE, 0, 0);
        return TRUE;
    }
    UINT_PTR m_timer;
};

HWND ParentWindowArgument() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    HWND parent = nullptr;
    static const wchar_t kFlag[] = L"--parent-window=";
    const std::size_t flagLength = sizeof kFlag / sizeof kFlag[0] - 1;
    for (int i = 1; argv && i < argc; ++i) {
        if (wcsncmp(argv[i], kFlag, flagLength) != 0) continue;
        wchar_t* end = nullptr;
        const unsigned long long value = wcstoull(argv[i] + flagLength, &end, 10);
        if (end && *end == L'\0') parent = reinterpret_cast<HWND>(static_cast<UINT_PTR>(value));
    }
    if (argv) LocalFree(argv);
    return parent;
}

DWORD ParentOf(DWORD child) {
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    if (!snapshot.Valid() || !Process32FirstW(snapshot.Get(), &entry)) return 0;
    do {
        if (entry.th32ProcessID == child) return entry.th32ParentProcessID;
    } while (Process32NextW(snapshot.Get(), &entry));
    return 0;
}

bool CreationTime(DWORD process, ULONGLONG& at) {
    UniqueHandle handle(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process));
    FILETIME created, exited, kernel, user;
    if (!handle.Valid() || !GetProcessTimes(handle.Get(), &created, &exited, &kernel, &user))
        return false;
    at = (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    return true;
}

// The system's command interpreter, through which Chrome and Edge start
// their native hosts ("cmd /d /c host.exe ...").
bool IsCommandInterpreter(DWORD process) {
    UniqueHandle handle(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process));
    wchar_t image[MAX_PATH];
    DWORD size = MAX_PATH;
    if (!handle.Valid() || !QueryFullProcessImageNameW(handle.Get(), 0, image, &size)) return false;
    for (const auto folder : {&GetSystemDirectoryW, &GetSystemWow64DirectoryW}) {
        wchar_t cmd[MAX_PATH];
        const UINT length = folder(cmd, MAX_PATH - 9);
        if (length == 0 || length >= MAX_PATH - 9) continue;
        wcscat(cmd, L"\\cmd.exe");
        if (CompareStringOrdinal(image, -1, cmd, -1, TRUE) == CSTR_EQUAL) return true;
    }
    return false;
}

// The browser's window as --parent-window names it, taken only when it
// belongs to the process that started the host (or, through the command
// interpreter, to the process that started that): any other program's
// window would have this thread share its input queue.
class BrowserWindow {
public:
    explicit BrowserWindow(HWND named) {
        DWORD owner = 0;
        if (!named || !GetWindowThreadProcessId(named, &owner)) return;
        DWORD child = GetCurrentProcessId();
        for (int generation = 0; generation < 2; ++generation) {
            const DWORD parent = ParentOf(child);
            ULONGLONG parentStart = 0, childStart = 0;
            // An ID of a parent that has gone may name a later process.
            if (!parent || !CreationTime(parent, parentStart) || !CreationTime(child, childStart) ||
                parentStart > childStart)
                return;
            if (parent == owner) {
                m_window = named;
                m_process = owner;
                return;
            }
            if (!IsCommandInterpreter(parent)) return;
            child = parent;
        }
    }
    // Null once the handle no longer names a window of that process.
    HWND Get() const {
        DWORD owner = 0;
        return m_window && GetWindowThreadProcessId(m_window, &owner) && owner == m_process
                   ? m_window
                   : nullptr;
    }

private:
    HWND m_window = nullptr;
    DWORD m_process = 0;
};

bool HasControlCharacter(const std::string& text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
    return false;
}

// The page's address: on the list, and the first page's site throughout.
class SiteGate {
public:
    SiteGate() : m_list(TRV_BRIDGE_SITES) {}
    bool Admits(const std::string& url) {
        if (HasControlCharacter(url) || !m_list.AllowsAddress(url)) return false;
        const std::string site = SiteLock::SiteOf(url);
        if (site.empty()) return false;
        if (m_site.empty()) m_site = site;
        return site == m_site;
    }

private:
    SiteLock m_list;
    std::string m_site;
};

int Serve() {
    Send(HelloMessage(RegisteredModuleVersion()));
    const BrowserWindow browser(ParentWindowArgument());
    SiteGate gate;
    WebBBSClient client([](const std::string& event) {
        // An event too long for the browser cannot be split; it is dropped
        // rather than sent cut short.
        Send(event);
    });
    client.Create();
    // Never freed: at the end its thread may still be inside a read, and the
    // process ends right after.
    Reader& reader = *new Reader;
    if (!reader.Start()) {
        Send(ErrorMessage("the host cannot read its input"));
        return 3;
    }
    for (;;) {
        Incoming in;
        while (!g_outputBroken && reader.Next(in)) {
            if (in.kind == Incoming::Kind::End) return 0;
            if (in.kind == Incoming::Kind::Error) {
                Send(ErrorMessage(in.error));
                return 2;
            }
            const Request& r = in.request;
            std::string result;
            bool hasResult = false;
            HRESULT hr = E_ACCESSDENIED;
            if (gate.Admits(r.url)) {
                // Only a call that can open a dialog brings the owner forward:
                // the others must not take the focus from the page (nor pay
                // for the window's round trips to the display).
                std::unique_ptr<OwnerWindow> owner;
                std::unique_ptr<PageGoneCloser> closer;
                hr = client.Call(WidenUtf8(r.url), r.method, r.args, result, hasResult, [&] {
                    owner.reset(new (std::nothrow) OwnerWindow(browser.Get()));
                    closer.reset(new (std::nothrow) PageGoneCloser);
                });
                closer.reset();
                owner.reset();
            }
            if (!Send(ReplyMessage(r.id, hr, hasResult ? &result : nullptr)))
                Send(ReplyMessage(r.id, HRESULT_FROM_WIN32(ERROR_MESSAGE_EXCEEDS_MAX_SIZE),
                                  nullptr));
        }
        if (g_outputBroken) return 4;
        // Pump while waiting: the object's windows and dialogs live on this thread.
        const HANDLE ready = reader.Ready();
        if (MsgWaitForMultipleObjects(1, &ready, FALSE, INFINITE, QS_ALLINPUT) ==
            WAIT_OBJECT_0 + 1) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_QUIT) continue;
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
    }
}

}  // namespace
}  // namespace trv::bridge

// Asks the module to pump this thread's messages in its waits (the browser's
// window may own the dialogs' owner meanwhile); see
// platform/win32/serving_wait.h.
extern "C" __declspec(dllexport) const DWORD TRVWaitsServeQueue = 1;

int main() {
    // Raw bytes both ways: a newline translation would corrupt the framing.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    trv::bridge::g_out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (FAILED(OleInitialize(nullptr))) {
        trv::bridge::Send(trv::bridge::ErrorMessage("COM could not start"));
        return 3;
    }
    const int code = trv::bridge::Serve();
    OleUninitialize();
    return code;
}
