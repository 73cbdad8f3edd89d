#include "platform/win32/support_log_win32.h"

#include <windows.h>

#include "platform/win32/com_util.h"
#include "platform/win32/registry_win32.h"
#include "platform/win32/win32_platform.h"

namespace trv {

namespace {

class Win32LogFile : public ISupportLogSystem::File {
public:
    explicit Win32LogFile(HANDLE file) : m_file(file) {}
    bool Size(std::uint64_t& size) override {
        LARGE_INTEGER n;
        if (!GetFileSizeEx(m_file.Get(), &n)) return false;
        size = static_cast<std::uint64_t>(n.QuadPart);
        return true;
    }
    bool Empty() override {
        return SetFilePointer(m_file.Get(), 0, nullptr, FILE_BEGIN) == 0 &&
               SetEndOfFile(m_file.Get());
    }
    bool Append(const std::string& bytes) override {
        LARGE_INTEGER zero = {};
        if (!SetFilePointerEx(m_file.Get(), zero, nullptr, FILE_END)) return false;
        DWORD written = 0;
        return WriteFile(m_file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                         nullptr) &&
               written == bytes.size();
    }

private:
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
    // Other browser processes may write the same log; a reader may watch it.
    HANDLE file = CreateFileA((folder + kSupportLogName).c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    return std::unique_ptr<File>(new Win32LogFile(file));
}

SupportLog& SystemSupportLog() {
    static Win32SupportLogSystem system;
    static SupportLog log(system);
    return log;
}

}  // namespace trv
