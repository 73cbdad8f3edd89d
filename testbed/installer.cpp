// Stand-in for the service's installer "setup.exe": copies the stand-in client
// programs and the server's ver.ini into Program Files\TARVOSK\, then leaves
// "install_result" in the temporary folder, as the real one does.
//
// Environment (inherited from whoever starts it):
//   TRV_SETUP_RESULT    text written to install_result (default "0"; "none": write nothing;
//                       "folder": make a folder of that name; "locked": write "0" and leave
//                       it locked by a helper process for TRV_SETUP_HOLD_MS, default 6000)
//   TRV_SETUP_RESULT_STEP_MS  write the result in two steps this far apart: all
//                       but its last byte (an empty file for one byte), then the last byte
//   TRV_SETUP_DELAY_MS  wait this long before writing the result (default 0)
//   TRV_SETUP_LINGER_MS keep running this long after writing it (default 0)
//   TRV_SETUP_SOURCE    folder holding the stand-in clients (default: the build's testbed folder)
//   TRV_SETUP_VERSION   ver.ini to install (default: the one the stand-in server serves)
// Every step is appended to %TEMP%\trv_setup.log, starting with the folder it
// was started in and the one it runs from.
#include <windows.h>
#include <shlobj.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr DWORD kMaxWaitMs = 120000;  // a switch can never make it hang for good
const char* const kClients[] = {"TARVOSKUp.exe", "TARVOSKDown.exe", "Explorer.exe"};

std::string Env(const char* name, const std::string& fallback) {
    char buffer[1024];
    const DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
    return n > 0 && n < sizeof buffer ? std::string(buffer, n) : fallback;
}

DWORD EnvMs(const char* name, DWORD fallback = 0) {
    const DWORD ms = static_cast<DWORD>(
        std::strtoul(Env(name, std::to_string(fallback)).c_str(), nullptr, 10));
    return ms < kMaxWaitMs ? ms : kMaxWaitMs;
}

std::string FromUnix(const char* unixPath) {
    std::string path = std::string("Z:") + unixPath;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

std::string WithSlash(std::string folder) {
    if (!folder.empty() && folder.back() != '\\') folder += '\\';
    return folder;
}

std::string TempFolder() {
    char buffer[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, buffer);
    return buffer;
}

void Log(const std::string& line) {
    const std::string path = TempFolder() + "trv_setup.log";
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    const std::string text = line + "\r\n";
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

std::string InstallFolder() {
    char buffer[MAX_PATH] = {};
    SHGetSpecialFolderPathA(nullptr, buffer, CSIDL_PROGRAM_FILES, FALSE);
    std::string folder = buffer[0] ? buffer : "C:\\Program Files";
    return WithSlash(folder) + "TARVOSK\\";
}

bool Copy(const std::string& from, const std::string& to) {
    const bool ok = CopyFileA(from.c_str(), to.c_str(), FALSE) != FALSE;
    Log((ok ? "copied " : "copy failed ") + from + " -> " + to);
    return ok;
}

// Written whole under another name first, so a reader never sees half of it.
bool WriteResult(const std::string& text) {
    const std::string path = TempFolder() + "install_result";
    const std::string part = path + ".part";
    HANDLE file = CreateFileA(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written,
                              nullptr) &&
                    written == text.size();
    CloseHandle(file);
    return ok && MoveFileExA(part.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

bool Append(HANDLE file, const std::string& bytes) {
    DWORD written = 0;
    return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size() && FlushFileBuffers(file);
}

// Straight into install_result, the last byte stepMs after the rest: what a
// reader sees in between is a result still being written.
bool WriteResultInSteps(const std::string& text, DWORD stepMs) {
    const std::string path = TempFolder() + "install_result";
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const std::string head = text.substr(0, text.empty() ? 0 : text.size() - 1);
    bool ok = Append(file, head);
    Log("result part \"" + head + "\"");
    Sleep(stepMs);
    ok = Append(file, text.substr(head.size())) && ok;
    CloseHandle(file);
    return ok;
}

// "0" in install_result, held without any sharing by a helper (a copy of
// this program started with --hold MS) that inherits the handle and outlives
// this process.
bool WriteLockedResult() {
    const std::string path = TempFolder() + "install_result";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, &inherit, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = Append(file, "0");
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    const std::string helper = TempFolder() + "trv_result_holder.exe";
    ok = ok && CopyFileA(self, helper.c_str(), FALSE);
    std::string command = "\"" + helper + "\" --hold " + std::to_string(EnvMs("TRV_SETUP_HOLD_MS", 6000));
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    ok = ok && CreateProcessA(helper.c_str(), &command[0], nullptr, nullptr, TRUE, 0, nullptr,
                              nullptr, &startup, &process);
    if (process.hProcess) CloseHandle(process.hProcess);
    if (process.hThread) CloseHandle(process.hThread);
    CloseHandle(file);
    return ok;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    // The helper of "locked": it only keeps the handle it inherited open.
    if (const char* hold = std::strstr(commandLine, "--hold ")) {
        const DWORD ms = static_cast<DWORD>(std::strtoul(hold + 7, nullptr, 10));
        Sleep(ms < kMaxWaitMs ? ms : kMaxWaitMs);
        return 0;
    }
    char folder[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, folder);
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    Log(std::string("folder ") + folder);
    Log(std::string("program ") + self);
    const std::string source = WithSlash(Env("TRV_SETUP_SOURCE", FromUnix(TRV_TESTBED_UNIX_DIR)));
    const std::string version =
        Env("TRV_SETUP_VERSION", FromUnix(TRV_UPDATE_ROOT_UNIX_DIR "/client/ver.ini"));
    std::string result = Env("TRV_SETUP_RESULT", "0");
    Log("start, result switch \"" + result + "\"");

    const std::string target = InstallFolder();
    CreateDirectoryA(target.c_str(), nullptr);
    bool ok = true;
    for (const char* client : kClients) ok = Copy(source + client, target + client) && ok;
    // The version file goes last: it marks the suite as complete.
    ok = ok && Copy(version, target + "ver.ini");
    if (!ok && result == "0") result = "-1";

    Sleep(EnvMs("TRV_SETUP_DELAY_MS"));
    const DWORD stepMs = EnvMs("TRV_SETUP_RESULT_STEP_MS");
    if (result == "none") {
        Log("no result");
    } else if (result == "folder") {
        Log(CreateDirectoryA((TempFolder() + "install_result").c_str(), nullptr)
                ? "result folder"
                : "result folder not made");
    } else if (result == "locked") {
        Log(WriteLockedResult() ? "result locked" : "result not locked");
    } else {
        const bool written = stepMs ? WriteResultInSteps(result, stepMs) : WriteResult(result);
        Log(written ? "result " + result : "result not written");
    }
    Sleep(EnvMs("TRV_SETUP_LINGER_MS"));
    Log("end");
    return ok ? 0 : 1;
}
