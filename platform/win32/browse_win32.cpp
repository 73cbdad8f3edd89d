#include "platform/win32/browse_win32.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <memory>

namespace trv {

namespace {

struct FindCloser {
    void operator()(HANDLE find) const { FindClose(find); }
};
using UniqueFind = std::unique_ptr<void, FindCloser>;

}  // namespace

std::uint32_t Win32Browse::LogicalDrives() { return GetLogicalDrives(); }

unsigned Win32Browse::DriveType(const std::string& root) { return GetDriveTypeA(root.c_str()); }

bool Win32Browse::DisplayName(const std::string& root, std::string& name) {
    SHFILEINFOA info = {};
    if (!SHGetFileInfoA(root.c_str(), 0, &info, sizeof info, SHGFI_DISPLAYNAME)) return false;
    info.szDisplayName[MAX_PATH - 1] = 0;
    name = info.szDisplayName;
    return true;
}

int Win32Browse::SmallIconIndex(const std::string& path) {
    SHFILEINFOA info = {};
    if (!SHGetFileInfoA(path.c_str(), 0, &info, sizeof info, SHGFI_SYSICONINDEX | SHGFI_SMALLICON))
        return 0;
    return info.iIcon;
}

bool Win32Browse::DesktopFolder(std::string& path) {
    char buffer[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathA(nullptr, buffer, CSIDL_DESKTOP, FALSE)) return false;
    buffer[MAX_PATH - 1] = 0;
    path = buffer;
    return !path.empty();
}

bool Win32Browse::Enumerate(const std::string& pattern,
                            const std::function<void(const FoundEntry&)>& visit) {
    WIN32_FIND_DATAA data;
    UniqueFind find(FindFirstFileA(pattern.c_str(), &data));
    if (find.get() == INVALID_HANDLE_VALUE) {
        find.release();
        return false;
    }
    do {
        data.cFileName[MAX_PATH - 1] = 0;
        const std::int64_t size = static_cast<std::int64_t>(
            (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
        visit({data.cFileName, data.dwFileAttributes, size});
    } while (FindNextFileA(find.get(), &data));
    return true;
}

std::string Win32Browse::FormatByteSize(std::int64_t size) {
    char buffer[256] = {};
    if (!StrFormatByteSize64A(size, buffer, sizeof buffer)) return std::string();
    return buffer;
}

}  // namespace trv
