#include "platform/win32/win32_platform.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <clocale>

#include "platform/win32/serving_wait.h"

namespace trv {

std::string SystemProgramFilesFolder() {
    char buffer[MAX_PATH] = {};
    SHGetSpecialFolderPathA(nullptr, buffer, CSIDL_PROGRAM_FILES, FALSE);
    return buffer;
}

bool SystemTempFolder(std::string& folder) {
    char buffer[MAX_PATH] = {};
    const DWORD n = GetTempPathA(MAX_PATH, buffer);
    if (n == 0 || n >= MAX_PATH) return false;
    folder.assign(buffer, n);
    return true;
}

std::string Win32Platform::ProgramFilesFolder() { return SystemProgramFilesFolder(); }

bool Win32Platform::TempFolder(std::string& folder) { return SystemTempFolder(folder); }

WindowRef Win32Platform::FindWindowByClass(const std::string& className) {
    return reinterpret_cast<WindowRef>(FindWindowA(className.c_str(), nullptr));
}

bool Win32Platform::StartProgram(const std::string& program, const std::string& parameters) {
    const HINSTANCE result = ShellExecuteA(nullptr, nullptr, program.c_str(), parameters.c_str(),
                                           nullptr, SW_SHOWNORMAL);
    // Values above 32 mean the program was started.
    return reinterpret_cast<INT_PTR>(result) > 32;
}

// The pause of the waits for a client's window and for its job-list file.
void Win32Platform::Sleep(unsigned milliseconds) {
    ServingWait(0, nullptr, milliseconds, WaitsServeQueue());
}

bool Win32Platform::FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool Win32Platform::RemoveFile(const std::string& path) {
    return DeleteFileA(path.c_str()) != FALSE;
}

AppendResult Win32Platform::AppendExclusive(const std::string& path, const void* data,
                                            std::size_t size) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION
                   ? AppendResult::Busy
                   : AppendResult::Failed;
    }
    bool ok = SetFilePointer(file, 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER ||
              GetLastError() == NO_ERROR;
    DWORD written = 0;
    ok = ok && WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) &&
         written == size;
    ok = CloseHandle(file) && ok;
    return ok ? AppendResult::Ok : AppendResult::Failed;
}

bool Win32Platform::SendCopyData(WindowRef window, std::uintptr_t sender, std::uint32_t kind,
                                 const void* data, std::uint32_t size) {
    HWND hwnd = reinterpret_cast<HWND>(window);
    if (!IsWindow(hwnd)) return false;
    COPYDATASTRUCT cds;
    cds.dwData = kind;
    cds.cbData = size;
    cds.lpData = const_cast<void*>(data);
    // Any program may own a window of a client's class: a hung or hostile one
    // must not hold the browser's thread. Not taken in time is not delivered.
    DWORD_PTR answer = 0;
    return SendMessageTimeoutA(hwnd, WM_COPYDATA, static_cast<WPARAM>(sender),
                               reinterpret_cast<LPARAM>(&cds), SMTO_NORMAL | SMTO_ABORTIFHUNG,
                               kCopyDataTimeoutMs, &answer) != 0;
}

void Win32Platform::SetKoreanLocale() { std::setlocale(LC_ALL, "Korean"); }

int Win32Platform::RunInstallCheck() { return m_installCheck ? m_installCheck() : -1; }

}  // namespace trv
