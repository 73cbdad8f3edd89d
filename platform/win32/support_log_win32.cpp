#include "platform/win32/support_log_win32.h"

#include <windows.h>

#include <new>
#include <utility>

#include "platform/win32/com_util.h"
#include "platform/win32/registry_win32.h"
#include "platform/win32/win32_platform.h"

namespace trv {

namespace {

enum class LogState { Usable, Replace, Refuse };

std::string FinalPath(HANDLE handle) {
    char path[MAX_PATH * 2];
    const DWORD n = GetFinalPathNameByHandleA(handle, path, sizeof path, FILE_NAME_NORMALIZED);
    return n > 0 && n < sizeof path ? std::string(path, n) : std::string();
}

// What the handle opened under the log's name turned out to be. Another
// program of the user may have put a link there to have the module write
// into a file of its choosing.
LogState Inspect(HANDLE file, const std::string& folder) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) return LogState::Refuse;
    // Opened without following: the handle is the link itself, so deleting
    // it removes only the link.
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return LogState::Replace;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return LogState::Refuse;
    // A link the system followed anyway (Wine does for the host's own links):
    // the handle is someone else's file, which must be neither written nor
    // deleted.
    UniqueHandle dir(CreateFileA(folder.c_str(), FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!dir.Valid()) return LogState::Refuse;
    std::string expected = FinalPath(dir.Get());
    if (expected.empty()) return LogState::Refuse;
    if (expected.back() != '\\') expected += '\\';
    expected += kSupportLogName;
    if (lstrcmpiA(FinalPath(file).c_str(), expected.c_str()) != 0) return LogState::Refuse;
    // Another name of the same file would carry the log's lines elsewhere.
    if (info.nNumberOfLinks > 1) return LogState::Replace;
    return LogState::Usable;
}

bool DeleteByHandle(HANDLE file) {
    FILE_DISPOSITION_INFO dispose = {TRUE};
    return SetFileInformationByHandle(file, FileDispositionInfo, &dispose, sizeof dispose) != FALSE;
}

// Append-only access: each line goes to the end of the file in one write, so
// lines of several objects or processes never overwrite or split each other.
HANDLE OpenLog(const std::string& folder) {
    const std::string path = folder + kSupportLogName;
    for (int attempt = 0; attempt < 2; ++attempt) {
        UniqueHandle file(CreateFileA(
            path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | DELETE | SYNCHRONIZE,
            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!file.Valid()) return nullptr;
        switch (Inspect(file.Get(), folder)) {
        case LogState::Usable: return file.Release();
        case LogState::Refuse: return nullptr;
        case LogState::Replace:
            if (!DeleteByHandle(file.Get())) return nullptr;
            break;
        }
    }
    return nullptr;
}

class Win32LogFile : public ISupportLogSystem::File {
public:
    Win32LogFile(std::string folder, HANDLE file) : m_folder(std::move(folder)), m_file(file) {}
    bool Size(std::uint64_t& size) override {
        LARGE_INTEGER n;
        if (!GetFileSizeEx(m_file.Get(), &n)) return false;
        size = static_cast<std::uint64_t>(n.QuadPart);
        return true;
    }
    // An append-only handle cannot cut its file: a new file takes the name.
    bool Empty() override {
        if (!DeleteByHandle(m_file.Get())) return false;
        m_file.Reset();  // the name is free once the deleted file is closed
        m_file.Reset(OpenLog(m_folder));
        return m_file.Valid();
    }
    bool Append(const std::string& bytes) override {
        DWORD written = 0;
        return WriteFile(m_file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                         nullptr) &&
               written == bytes.size();
    }

private:
    std::string m_folder;
    UniqueHandle m_file;
};

}  // namespace

IRegistryApi& Win32SupportLogSystem::Registry() { return SystemRegistry(); }

std::string Win32SupportLogSystem::Stamp() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    // user32's formatter: the C runtime's would add its whole printf to the module.
    char text[64];
    wsprintfA(text, "%04u-%02u-%02u %02u:%02u:%02u.%03u %lu/%lu", t.wYear,
                  t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds,
                  static_cast<unsigned long>(GetCurrentProcessId()),
                  static_cast<unsigned long>(GetCurrentThreadId()));
    return text;
}

std::unique_ptr<ISupportLogSystem::File> Win32SupportLogSystem::Open() {
    std::string folder;
    if (!SystemTempFolder(folder)) return nullptr;
    HANDLE file = OpenLog(folder);
    if (!file) return nullptr;
    return std::unique_ptr<File>(new (std::nothrow) Win32LogFile(folder, file));
}

SupportLog& SystemSupportLog() {
    static Win32SupportLogSystem system;
    static SupportLog log(system);
    return log;
}

}  // namespace trv
