// The shipped module end to end in one process, for trees whose Wine runs are
// expensive (the i686 build under 32-bit Wine through qemu): registration by
// regsvr32, creation by ProgID, the twelve methods by name, both events, a job
// record through the job-list file and through WM_COPYDATA, unregistration.
// The checks run in table order, each building on the state the ones above it
// left, and all of them run; the last line reads "N passed, N failed".
#include <windows.h>
#include <ocidl.h>
#include <shellapi.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <string>
#include <vector>

#include "com_support.h"
#include "support/wine_support.h"
#include "testbed/testbed_log.h"

namespace {

using namespace trv::comtest;
using namespace trv::winetest;

// Process starts cost seconds each under emulation, more on a busy machine.
constexpr DWORD kProcessWaitMs = 180000;
constexpr DWORD kLogWaitMs = 60000;

const char kClsid[] = "{B679444B-C4D3-47D8-94B6-A31C1DAE6668}";
const char kLibid[] = "{6C612995-A994-4723-8877-8B831861243B}";

// The download item whose record is exactly 20 bytes: 12 of head, "1#<C:\x" and its NUL.
const wchar_t kDownloadIndex[] = L"1";
const wchar_t kDownloadPath[] = L"C:\\x";
const char kDownloadText[] = "1#<C:\\x";

struct State {
    Ptr<IDispatch> object;
    Ptr<IConnectionPoint> point;
    DWORD cookie = 0;
    Sink sink{1};
    std::string log, dll, downloadList;
};
State g;

std::string Hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

// Runs `command` to its end; its exit code, or ~0 when it could not run in time.
DWORD Run(const std::string& command) {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::string line = command;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return ~0u;
    DWORD code = ~0u;
    if (WaitForSingleObject(pi.hProcess, kProcessWaitMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

// The default value of HKCR\path, or "<absent>".
std::string ClassesValue(const std::string& path) {
    char data[1024] = {};
    LONG size = sizeof data;
    if (RegQueryValueA(HKEY_CLASSES_ROOT, path.c_str(), data, &size) != ERROR_SUCCESS)
        return "<absent>";
    return data;
}

std::string Call(const wchar_t* name, const std::vector<std::wstring>& args,
                 VARIANT* result = nullptr) {
    if (!g.object) return "no object";
    const HRESULT hr = CallByName(g.object.Get(), name, args, result);
    if (hr == S_OK) return "";
    return Ansi(name) + " returned " + Hex(hr);
}

std::vector<TestbedEvent> Events(const char* program, const char* event, std::size_t count) {
    std::vector<TestbedEvent> out;
    WaitUntil(
        [&] {
            out.clear();
            for (const auto& e : ReadTestbedLog(g.log))
                if (e.program == program && e.event == event) out.push_back(e);
            return out.size() >= count;
        },
        kLogWaitMs, 200);
    return out;
}

// The client's file record and what reached it by WM_COPYDATA must be the same bytes.
std::string RecordSeen(const TestbedEvent& e, const char* source, std::uint32_t kind,
                       const std::string& text) {
    if (e.source != source || e.kind != kind || e.length != text.size() + 1 || e.text != text)
        return std::string("the client saw ") + e.source + " kind " + std::to_string(e.kind) +
               " length " + std::to_string(e.length) + " \"" + e.text + "\"";
    return "";
}

std::string Registered() {
    if (Run("regsvr32.exe /s \"" + g.dll + "\"") != 0) return "regsvr32 failed";
    const struct {
        std::string key, value;
    } expected[] = {
        {std::string("CLSID\\") + kClsid + "\\InprocServer32", g.dll},
        {"WebControl.TARVOSK.1\\CLSID", kClsid},
        {"WebControl.TARVOSK\\CurVer", "WebControl.TARVOSK.1"},
        {std::string("TypeLib\\") + kLibid + "\\1.0\\0\\win32", g.dll},
        {std::string("TypeLib\\") + kLibid + "\\1.0\\0\\win64", "<absent>"},
    };
    for (const auto& e : expected)
        if (ClassesValue(e.key) != e.value)
            return e.key + " is \"" + ClassesValue(e.key) + "\", not \"" + e.value + "\"";
    return "";
}

std::string ExportsByOrdinal() {
    HMODULE module = LoadLibraryA(g.dll.c_str());
    if (!module) return "LoadLibrary failed";
    const char* names[] = {"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer",
                           "DllUnregisterServer"};
    std::string failure;
    for (WORD ordinal = 1; ordinal <= 4; ++ordinal) {
        FARPROC byName = GetProcAddress(module, names[ordinal - 1]);
        if (!byName || GetProcAddress(module, MAKEINTRESOURCEA(ordinal)) != byName)
            failure = std::string(names[ordinal - 1]) + " is not ordinal " + std::to_string(ordinal);
    }
    FreeLibrary(module);
    return failure;
}

std::string CreatedByProgId() {
    g.object = CreateDispatch();
    if (!g.object) return "CoCreateInstance of WebControl.TARVOSK.1 failed";
    Ptr<IConnectionPointContainer> container;
    g.object->QueryInterface(IID_IConnectionPointContainer, container.PutVoid());
    if (!container || container->FindConnectionPoint(DIID__IWebBBSEvents, g.point.Put()) != S_OK)
        return "no connection point for _IWebBBSEvents";
    if (g.point->Advise(&g.sink, &g.cookie) != S_OK) return "Advise failed";
    return "";
}

std::string NamesResolve() {
    if (!g.object) return "no object";
    for (DISPID expected = 1; expected <= 12; ++expected) {
        LPOLESTR name = const_cast<LPOLESTR>(kMethodNames[expected - 1]);
        DISPID dispid = 0;
        const HRESULT hr = g.object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &dispid);
        if (hr != S_OK || dispid != expected)
            return Ansi(name) + " resolved to " + std::to_string(dispid) + " (" + Hex(hr) + ")";
    }
    return "";
}

std::string CheckInstallFires() {
    g.sink.events.clear();
    if (auto failed = Call(L"CheckInstall", {}); !failed.empty()) return failed;
    if (g.sink.events.size() != 1 || g.sink.events[0].dispid != 1 || !g.sink.events[0].args.empty())
        return "the sink got " + std::to_string(g.sink.events.size()) + " events, not one InstallCompleteEvent";
    return "";
}

std::string SelectCompleteFires() {
    g.sink.events.clear();
    const std::vector<std::wstring> triple = {L"C:\\올릴 폴더", L"0", L"D"};
    if (auto failed = Call(L"SelectComplete", triple); !failed.empty()) return failed;
    if (g.sink.events.size() != 1 || g.sink.events[0].dispid != 2 || g.sink.events[0].args != triple)
        return "the sink did not get UpSelectComplete with the three strings";
    return "";
}

std::string AllowPopUpWrites() {
    if (auto failed = Call(L"AllowPopUp", {L"smoke.example.test"}); !failed.empty()) return failed;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Internet Explorer\\New Windows\\Allow",
                      0, KEY_READ, &key) != ERROR_SUCCESS)
        return "no allow list key";
    const LONG found = RegQueryValueExA(key, "smoke.example.test", nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return found == ERROR_SUCCESS ? "" : "the site is not in the allow list";
}

std::string SelectionDialogRunsModally() {
    if (!g.object) return "no object";
    bool closed = false;
    const HRESULT hr = CallCancellingDialog(g.object.Get(), L"ShowUpFileDlg", kProcessWaitMs, &closed);
    if (hr != S_OK) return "ShowUpFileDlg returned " + Hex(hr);
    return closed ? "" : "the dialog never showed";
}

std::string ClientsStart() {
    if (!InstallStandInClients()) return "the stand-in clients could not be copied";
    const struct {
        const char *program, *windowClass;
    } clients[] = {{"TARVOSKUp.exe", "tarvosk_class_upload"}, {"TARVOSKDown.exe", "tarvosk_class_down"}};
    for (const auto& c : clients) {
        ShellExecuteA(nullptr, nullptr, (InstallDir() + c.program).c_str(), "", nullptr, SW_SHOWNORMAL);
        if (!WaitUntil([&] { return FindWindowA(c.windowClass, nullptr) != nullptr; }, kProcessWaitMs, 200))
            return std::string(c.program) + " showed no window";
    }
    return "";
}

std::string UploadJobReachesClient() {
    for (auto failed : {Call(L"UpLoadInit", {}), Call(L"UpLoadInfo", {L"C:\\up.txt"}),
                        Call(L"UpLoadEnd", {L"user", L"pw"})})
        if (!failed.empty()) return failed;
    const auto records = Events("TARVOSKUp.exe", "record", 1);
    if (records.size() != 1) return "the upload client got " + std::to_string(records.size()) + " records";
    return RecordSeen(records[0], "file", 2, "C:\\up.txt");
}

std::string DownloadRecordIsExact() {
    for (auto failed : {Call(L"DownLoadInit", {}), Call(L"DownLoadInfo", {kDownloadIndex, kDownloadPath}),
                        Call(L"DownLoadEnd", {L"user", L"pw"})})
        if (!failed.empty()) return failed;
    const auto records = Events("TARVOSKDown.exe", "record", 1);
    if (records.size() != 1) return "the download client got " + std::to_string(records.size()) + " records";
    if (auto failed = RecordSeen(records[0], "file", 7, kDownloadText); !failed.empty()) return failed;

    const std::string bytes = ReadFileBytes(g.downloadList);
    const std::string head("\x07\0\0\0\x08\0\0\0", 8);
    const std::string text(kDownloadText, sizeof kDownloadText);  // with its NUL
    if (bytes.size() != 20 || bytes.compare(0, 8, head) != 0 || bytes.compare(12, 8, text) != 0)
        return "the job-list file holds " + std::to_string(bytes.size()) + " bytes, not the record";
    if (bytes.compare(8, 4, std::string(4, '\0')) == 0) return "the address word is zero";
    return "";
}

std::string CopyDataDeliversTheSameRecord() {
    // With the file held, the control gives up on it and sends the record instead.
    HANDLE held = CreateFileA(g.downloadList.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (held == INVALID_HANDLE_VALUE) return "the job-list file could not be held";
    const std::string failed = Call(L"DownLoadEnd", {L"user", L"pw"});
    CloseHandle(held);
    if (!failed.empty()) return failed;
    const auto records = Events("TARVOSKDown.exe", "record", 2);
    if (records.size() != 2) return "no second record reached the download client";
    return RecordSeen(records[1], "copydata", 7, kDownloadText);
}

std::string LaunchersReachTheirClients() {
    if (auto failed = Call(L"LauncherExplorer", {L"user", L"pw"}); !failed.empty()) return failed;
    const auto starts = Events("Explorer.exe", "start", 1);
    if (starts.size() != 1 || starts[0].args != std::vector<std::string>{"user", "pw"})
        return "the explorer was not started with the credentials";
    VARIANT answer;
    VariantInit(&answer);
    if (auto failed = Call(L"LauncherWebLink", {L"", L"", L"http://smoke.test/f?id=1"}, &answer);
        !failed.empty())
        return failed;
    const bool one = answer.vt == VT_BSTR && answer.bstrVal && std::wcscmp(answer.bstrVal, L"1") == 0;
    VariantClear(&answer);
    if (!one) return "LauncherWebLink did not answer \"1\"";
    const auto records = Events("TARVOSKDown.exe", "record", 3);
    if (records.size() != 3) return "the web link did not reach the download client";
    return RecordSeen(records[2], "file", 8, "http://smoke.test/f?id=1");
}

std::string UnregisterLeavesNothing() {
    if (g.point) g.point->Unadvise(g.cookie);
    g.point.Reset();
    g.object.Reset();
    CloseAllClients(kLogWaitMs);
    if (Run("regsvr32.exe /s /u \"" + g.dll + "\"") != 0) return "regsvr32 /u failed";
    const std::string keys[] = {std::string("CLSID\\") + kClsid,
                                std::string("TypeLib\\") + kLibid,
                                "WebControl.TARVOSK.1",
                                "WebControl.TARVOSK",
                                "Interface\\{B375E18E-FE4A-428C-AC4E-3F73E94D2260}",
                                "Interface\\{C0CA1522-CE44-43C6-8ECC-132079D3E4B1}",
                                "AppID\\{B5C98172-8387-4C09-B1D7-B01043CAF98A}",
                                "AppID\\TRVControl.DLL"};
    for (const auto& key : keys) {
        HKEY k = nullptr;
        if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &k) == ERROR_SUCCESS) {
            RegCloseKey(k);
            return key + " is still there";
        }
    }
    return "";
}

}  // namespace

int main() {
    CoInitialize(nullptr);
    g.dll = BuildDir() + "\\TRVControl.DLL";
    g.log = BuildDir() + "\\module-smoke.log";
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    g.downloadList = std::string(temp) + "TARVOSK_Download_List";
    DeleteFileA(g.log.c_str());
    DeleteFileA(g.downloadList.c_str());
    DeleteFileA((std::string(temp) + "TARVOSK_Upload_List").c_str());
    SetEnv("TRV_TESTBED_LOG", g.log.c_str());

    const struct {
        const char* what;
        std::function<std::string()> run;
    } checks[] = {
        {"regsvr32 registers the class, the ProgIDs and the type library's win32 entry", Registered},
        {"the four exports answer by name and by ordinals 1 to 4", ExportsByOrdinal},
        {"the object is created by ProgID and takes an event sink", CreatedByProgId},
        {"the twelve method names resolve to DISPIDs 1 to 12", NamesResolve},
        {"CheckInstall fires InstallCompleteEvent at the sink", CheckInstallFires},
        {"SelectComplete fires UpSelectComplete with its three strings", SelectCompleteFires},
        {"AllowPopUp adds the site to the allow list", AllowPopUpWrites},
        {"ShowUpFileDlg runs the selection dialog until Cancel", SelectionDialogRunsModally},
        {"the stand-in upload and download clients show their windows", ClientsStart},
        {"UpLoadInit, UpLoadInfo, UpLoadEnd hand the job to the upload client", UploadJobReachesClient},
        {"a download job reaches the client as the exact 20-byte record of kind 7", DownloadRecordIsExact},
        {"with the file held, WM_COPYDATA delivers the same record", CopyDataDeliversTheSameRecord},
        {"LauncherExplorer and LauncherWebLink reach the explorer and the download client",
         LaunchersReachTheirClients},
        {"regsvr32 /u leaves none of the keys", UnregisterLeavesNothing},
    };
    int passed = 0, failed = 0;
    for (const auto& check : checks) {
        const std::string why = check.run();
        if (why.empty()) {
            ++passed;
            std::printf("ok    %s\n", check.what);
        } else {
            ++failed;
            std::printf("FAIL  %s: %s\n", check.what, why.c_str());
        }
        std::fflush(stdout);
    }
    CloseAllClients();
    CoUninitialize();
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
