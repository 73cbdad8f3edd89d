#include "platform/win32/browse_win32.h"

#include "platform/win32/wide_text.h"

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

// The default value of a key below HKEY_CLASSES_ROOT; empty when there is none.
std::string ClassText(const std::string& key) {
    char text[MAX_PATH] = {};
    DWORD size = sizeof text - 1;
    if (RegGetValueA(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ |
                     RRF_NOEXPAND, nullptr, text, &size) != ERROR_SUCCESS)
        return std::string();
    return text;
}

// Files of this type each show an icon of their own: the shell takes it from
// the file ("%1") or asks an icon handler (shortcuts).
bool OwnIcons(const std::string& extension) {
    static const char* const kKnown[] = {".exe", ".ico", ".cur", ".ani", ".lnk",
                                         ".url", ".pif", ".scr", ".cpl"};
    if (extension.empty()) return false;
    for (const char* known : kKnown)
        if (!lstrcmpiA(known, extension.c_str())) return true;
    const std::string type = ClassText(extension);
    for (const std::string& key : {extension, type}) {
        if (key.empty()) continue;
        if (!ClassText(key + "\\shellex\\IconHandler").empty()) return true;
        std::string icon = ClassText(key + "\\DefaultIcon");
        icon.erase(0, icon.find_first_not_of(" \""));
        icon.erase(icon.find_last_not_of(" \"") + 1);
        if (icon == "%1") return true;
    }
    return false;
}

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

void Win32Browse::BindIconFolder(const std::string& folder) {
    m_iconFolderPath = folder;
    m_iconFolder.Reset();
    m_iconFolderPidl.reset();
    ComPtr<IShellFolder> desktop;
    std::wstring wide = WidenAnsi(folder);
    PIDLIST_RELATIVE pidl = nullptr;
    if (wide.empty() || FAILED(SHGetDesktopFolder(desktop.Put())) ||
        FAILED(desktop->ParseDisplayName(nullptr, nullptr, &wide[0], nullptr, &pidl, nullptr)))
        return;
    m_iconFolderPidl.reset(pidl);
    if (FAILED(desktop->BindToObject(pidl, nullptr, IID_IShellFolder, m_iconFolder.PutVoid())))
        m_iconFolder.Reset();
}

int Win32Browse::SmallIconIndex(const std::string& path) {
    // The same question as by path, asked with the entry's identifier.
    const std::size_t slash = path.rfind('\\');
    if (slash != std::string::npos && slash + 1 < path.size()) {
        // "C:\x" is in "C:\", "C:\A\x" in "C:\A".
        const std::string folder = path.substr(0, slash == 2 ? 3 : slash);
        if (folder != m_iconFolderPath) BindIconFolder(folder);
        std::wstring name = WidenAnsi(path.substr(slash + 1));
        PIDLIST_RELATIVE child = nullptr;
        if (m_iconFolder && !name.empty() &&
            SUCCEEDED(m_iconFolder->ParseDisplayName(nullptr, nullptr, &name[0], nullptr, &child, nullptr))) {
            const UniqueCoTask owner(child);
            const UniqueCoTask item(ILCombine(static_cast<PCIDLIST_ABSOLUTE>(m_iconFolderPidl.get()), child));
            SHFILEINFOA info = {};
            if (item && SHGetFileInfoA(static_cast<LPCSTR>(item.get()), 0, &info, sizeof info,
                                       SHGFI_PIDL | SHGFI_SYSICONINDEX | SHGFI_SMALLICON))
                return info.iIcon;
        }
    }
    SHFILEINFOA info = {};
    if (!SHGetFileInfoA(path.c_str(), 0, &info, sizeof info, SHGFI_SYSICONINDEX | SHGFI_SMALLICON))
        return 0;
    return info.iIcon;
}

bool Win32Browse::TypeIconIndex(const std::string& extension, int& index) {
    // Only a name is asked about (no file is read): any name of the type will do.
    const std::string name = "file" + extension;
    if (name.size() >= MAX_PATH || OwnIcons(extension)) return false;
    SHFILEINFOA info = {};
    index = SHGetFileInfoA(name.c_str(), FILE_ATTRIBUTE_NORMAL, &info, sizeof info,
                           SHGFI_USEFILEATTRIBUTES | SHGFI_SYSICONINDEX | SHGFI_SMALLICON)
                ? info.iIcon
                : 0;
    return true;
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
