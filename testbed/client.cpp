// Stand-in for the service's client programs: keeps their window class,
// command line and job-list file, takes up job records from the file and by
// WM_COPYDATA, and logs everything it receives. Built once per program with
// TRV_CLIENT_UPLOAD, TRV_CLIENT_DOWNLOAD or TRV_CLIENT_EXPLORER.

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "control/job_list.h"
#include "testbed/client_args.h"
#include "testbed/client_log.h"
#include "testbed/job_reader.h"

namespace {

#if defined(TRV_CLIENT_UPLOAD)
constexpr char kProgram[] = "TARVOSKUp.exe";
constexpr char kWindowClass[] = "tarvosk_class_upload";
constexpr char kDefaultListName[] = "TARVOSK_Upload_List";
#elif defined(TRV_CLIENT_DOWNLOAD)
constexpr char kProgram[] = "TARVOSKDown.exe";
constexpr char kWindowClass[] = "tarvosk_class_down";
constexpr char kDefaultListName[] = "TARVOSK_Download_List";
#elif defined(TRV_CLIENT_EXPLORER)
constexpr char kProgram[] = "Explorer.exe";
constexpr char kWindowClass[] = "tarvosk_class_explorer";
constexpr char kDefaultListName[] = "";
#else
#error "define TRV_CLIENT_UPLOAD, TRV_CLIENT_DOWNLOAD or TRV_CLIENT_EXPLORER"
#endif

constexpr bool kHasList = kDefaultListName[0] != '\0';

constexpr UINT_PTR kPollTimer = 1;
constexpr UINT_PTR kLifetimeTimer = 2;
constexpr UINT_PTR kHoldTimer = 3;
constexpr UINT kPollMs = 100;
constexpr DWORD kDefaultLifetimeMs = 120000;
constexpr DWORD kNoWindowMaxMs = 30000;
constexpr std::size_t kRecordHead = 12;
// Records above this are taken as a damaged file rather than waited for.
constexpr std::uint32_t kMaxRecordLength = 16u << 20;
constexpr std::size_t kMaxReadChunk = 2 * (kMaxRecordLength + kRecordHead);

using trv::testbed::JsonLine;

struct Options {
    DWORD startDelayMs = 0;
    bool noWindow = false;
    bool removeList = false;
    DWORD holdListMs = 0;
    DWORD lifetimeMs = kDefaultLifetimeMs;
};

struct ListCursor {
    std::uint64_t offset = 0;
    // Identity of the file the offset belongs to: a file deleted and written
    // anew between two polls starts again at 0 even if it grew meanwhile.
    bool known = false;
    DWORD volume = 0, indexHigh = 0, indexLow = 0;
};

struct State {
    Options options;
    std::string listFile;
    ListCursor cursor;
    HANDLE hold = INVALID_HANDLE_VALUE;
    DWORD startTick = 0;
    bool exitLogged = false;
};

State g;

bool EnvNumber(const char* name, DWORD* value) {
    char buf[32];
    const DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
    if (n == 0 || n >= sizeof buf) return false;
    char* end = nullptr;
    const unsigned long v = std::strtoul(buf, &end, 10);
    if (end == buf || *end != '\0') return false;
    *value = static_cast<DWORD>(v);
    return true;
}

bool EnvFlag(const char* name) {
    DWORD v = 0;
    return EnvNumber(name, &v) && v != 0;
}

Options ReadOptions() {
    Options o;
    EnvNumber("TRV_TESTBED_START_DELAY_MS", &o.startDelayMs);
    o.noWindow = EnvFlag("TRV_TESTBED_NO_WINDOW");
    o.removeList = EnvFlag("TRV_TESTBED_REMOVE_LIST");
    EnvNumber("TRV_TESTBED_HOLD_LIST_MS", &o.holdListMs);
    EnvNumber("TRV_TESTBED_LIFETIME_MS", &o.lifetimeMs);
    return o;
}

JsonLine Event(const char* name) {
    JsonLine line;
    line.Word("program", kProgram)
        .Number("pid", GetCurrentProcessId())
        .Word("event", name)
        .Number("tick", GetTickCount() - g.startTick);
    return line;
}

void Log(const JsonLine& line) { trv::testbed::AppendLogLine(line.Finish()); }

void LogExit(const char* reason) {
    if (g.exitLogged) return;
    g.exitLogged = true;
    Log(Event("exit").Word("reason", reason));
}

std::string DefaultListPath() {
    char temp[MAX_PATH + 1];
    const DWORD n = GetTempPathA(sizeof temp, temp);
    std::string dir = (n > 0 && n < sizeof temp) ? std::string(temp, n) : std::string(".\\");
    if (dir.back() != '\\') dir += '\\';
    return dir + kDefaultListName;
}

std::uint32_t GetU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Logs the whole records in `data`; returns how many bytes they took.
std::size_t TakeRecords(const std::vector<std::uint8_t>& data) {
    std::size_t consumed = 0;
    const auto records = trv::ParseJobRecords(data.data(), data.size(), &consumed);
    std::size_t pos = 0;
    for (const auto& r : records) {
        const std::uint32_t length = GetU32(data.data() + pos + 4);
        pos += kRecordHead + length;
        Log(Event("record")
                .Word("source", "file")
                .Number("kind", r.kind)
                .Number("length", length)
                .Number("address", r.address)
                .Text("text", r.text)
                .Text("list_file", g.listFile));
    }
    return consumed;
}

void PollList() {
    if (!kHasList || g.hold != INVALID_HANDLE_VALUE) return;
    HANDLE f = CreateFileA(g.listFile.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) {
        const DWORD err = GetLastError();
        // Gone: whatever comes next is a new file. A writer holding it
        // exclusively just means "try again on the next tick".
        if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) g.cursor = ListCursor{};
        return;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    LARGE_INTEGER size{};
    if (!GetFileInformationByHandle(f, &info) || !GetFileSizeEx(f, &size)) {
        CloseHandle(f);
        return;
    }
    const auto fileSize = static_cast<std::uint64_t>(size.QuadPart);
    if (!g.cursor.known || g.cursor.volume != info.dwVolumeSerialNumber ||
        g.cursor.indexHigh != info.nFileIndexHigh || g.cursor.indexLow != info.nFileIndexLow ||
        fileSize < g.cursor.offset) {
        g.cursor = ListCursor{};
        g.cursor.known = true;
        g.cursor.volume = info.dwVolumeSerialNumber;
        g.cursor.indexHigh = info.nFileIndexHigh;
        g.cursor.indexLow = info.nFileIndexLow;
    }
    std::vector<std::uint8_t> data;
    if (fileSize > g.cursor.offset) {
        std::uint64_t want = fileSize - g.cursor.offset;
        if (want > kMaxReadChunk) want = kMaxReadChunk;
        data.resize(static_cast<std::size_t>(want));
        LARGE_INTEGER at{};
        at.QuadPart = static_cast<LONGLONG>(g.cursor.offset);
        DWORD got = 0;
        if (!SetFilePointerEx(f, at, nullptr, FILE_BEGIN) ||
            !ReadFile(f, data.data(), static_cast<DWORD>(data.size()), &got, nullptr))
            got = 0;
        data.resize(got);
    }
    CloseHandle(f);

    const std::size_t consumed = TakeRecords(data);
    g.cursor.offset += consumed;
    const std::size_t rest = data.size() - consumed;
    if (rest >= kRecordHead) {
        const std::uint32_t length = GetU32(data.data() + consumed + 4);
        if (length == 0 || length > kMaxRecordLength) {
            // No writer produces this: skip what is there so one bad head
            // does not stall the list for good.
            Log(Event("bad_record")
                    .Number("offset", g.cursor.offset)
                    .Number("length", length)
                    .Text("list_file", g.listFile));
            g.cursor.offset = fileSize;
        }
    }

    if (g.options.removeList) {
        const bool removed = DeleteFileA(g.listFile.c_str()) != FALSE;
        const DWORD err = removed ? 0 : GetLastError();
        if (removed) g.cursor = ListCursor{};
        Log(Event("remove").Bool("ok", removed).Number("error", err).Text("list_file", g.listFile));
    }
}

void LogCopyData(WPARAM wParam, const COPYDATASTRUCT* cds) {
    std::string text;
    std::uint64_t kind = 0, length = 0;
    if (cds) {
        kind = cds->dwData;
        length = cds->cbData;
        if (cds->lpData && cds->cbData) {
            const char* p = static_cast<const char*>(cds->lpData);
            std::size_t n = 0;
            while (n < cds->cbData && p[n] != '\0') ++n;
            text.assign(p, n);
        }
    }
    Log(Event("record")
            .Word("source", "copydata")
            .Number("kind", kind)
            .Number("length", length)
            .Text("text", text)
            .Number("wparam", static_cast<std::uint64_t>(wParam)));
}

void EndHold(HWND hwnd) {
    if (g.hold == INVALID_HANDLE_VALUE) return;
    CloseHandle(g.hold);
    g.hold = INVALID_HANDLE_VALUE;
    if (hwnd) KillTimer(hwnd, kHoldTimer);
    Log(Event("release").Text("list_file", g.listFile));
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_TIMER:
        if (wParam == kPollTimer) {
            PollList();
        } else if (wParam == kHoldTimer) {
            EndHold(hwnd);
        } else if (wParam == kLifetimeTimer) {
            LogExit("lifetime");
            DestroyWindow(hwnd);
        }
        return 0;
    case WM_COPYDATA:
        LogCopyData(wParam, reinterpret_cast<const COPYDATASTRUCT*>(lParam));
        return TRUE;
    case WM_CLOSE:
        LogExit("close");
        DestroyWindow(hwnd);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
}

DWORD RemainingLifetime() {
    const DWORD elapsed = GetTickCount() - g.startTick;
    return elapsed >= g.options.lifetimeMs ? 0 : g.options.lifetimeMs - elapsed;
}

void LogStart(const std::string& params, const std::vector<std::string>& args) {
    JsonLine line = Event("start");
    line.Text("params", params).TextArray("args", args);
    const std::string* id = nullptr;
    const std::string* pw = nullptr;
    if (kHasList) {
        line.TextOrNull("command", args.size() > 0 ? &args[0] : nullptr);
        id = args.size() > 1 ? &args[1] : nullptr;
        pw = args.size() > 2 ? &args[2] : nullptr;
    } else {
        id = args.size() > 0 ? &args[0] : nullptr;
        pw = args.size() > 1 ? &args[1] : nullptr;
    }
    line.TextOrNull("id", id).TextOrNull("pw", pw);
    if (kHasList) line.Text("list_file", g.listFile).Bool("list_default", args.size() < 4);
    line.Number("start_delay_ms", g.options.startDelayMs)
        .Bool("no_window", g.options.noWindow)
        .Bool("remove_list", g.options.removeList)
        .Number("hold_list_ms", g.options.holdListMs)
        .Number("lifetime_ms", g.options.lifetimeMs);
    Log(line);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    g.startTick = GetTickCount();
    g.options = ReadOptions();

    const std::string params = trv::testbed::ParamsFromCommandLine(GetCommandLineA());
    std::vector<std::string> args = trv::testbed::SplitParams(params);
    if (kHasList) {
        // bbs|weblink <id> <pw> <list path with blanks as [[SPACE]]>
        if (args.size() >= 4) args[3] = trv::DecodeBlanks(args[3]);
        g.listFile = args.size() >= 4 ? args[3] : DefaultListPath();
    }
    LogStart(params, args);

    if (g.options.noWindow) {
        DWORD wait = RemainingLifetime();
        if (wait > kNoWindowMaxMs) wait = kNoWindowMaxMs;
        Sleep(wait);
        LogExit("lifetime");
        return 0;
    }

    if (g.options.removeList) PollList();

    if (g.options.startDelayMs) {
        DWORD delay = g.options.startDelayMs;
        if (delay > RemainingLifetime()) delay = RemainingLifetime();
        Sleep(delay);
    }
    if (RemainingLifetime() == 0) {
        LogExit("lifetime");
        return 0;
    }

    WNDCLASSA wc{};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = kWindowClass;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    if (!RegisterClassA(&wc)) {
        Log(Event("error").Word("what", "RegisterClassA").Number("error", GetLastError()));
        LogExit("error");
        return 1;
    }

    // Taken before the window appears, so that whoever waits for the window
    // always finds the file already held.
    DWORD holdError = 0;
    if (kHasList && g.options.holdListMs) {
        g.hold = CreateFileA(g.listFile.c_str(), GENERIC_READ, 0, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        if (g.hold == INVALID_HANDLE_VALUE) holdError = GetLastError();
    }

    HWND hwnd = CreateWindowExA(0, kWindowClass, kProgram, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 320, 200, nullptr, nullptr, instance, nullptr);
    if (!hwnd) {
        Log(Event("error").Word("what", "CreateWindowExA").Number("error", GetLastError()));
        if (g.hold != INVALID_HANDLE_VALUE) CloseHandle(g.hold);
        LogExit("error");
        return 1;
    }
    Log(Event("window").Word("class", kWindowClass).Number("hwnd", reinterpret_cast<UINT_PTR>(hwnd)));

    if (kHasList && g.options.holdListMs) {
        Log(Event("hold")
                .Bool("ok", g.hold != INVALID_HANDLE_VALUE)
                .Number("error", holdError)
                .Number("ms", g.options.holdListMs)
                .Text("list_file", g.listFile));
        if (g.hold != INVALID_HANDLE_VALUE) SetTimer(hwnd, kHoldTimer, g.options.holdListMs, nullptr);
    }
    if (kHasList) SetTimer(hwnd, kPollTimer, kPollMs, nullptr);
    SetTimer(hwnd, kLifetimeTimer, RemainingLifetime() ? RemainingLifetime() : 1, nullptr);

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    EndHold(nullptr);
    LogExit("quit");
    return 0;
}
