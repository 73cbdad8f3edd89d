#include "update/update_system_win32.h"

#include <bcrypt.h>
#include <winternl.h>

#include <vector>

#include "platform/win32/com_util.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/win32_platform.h"
#include "update/installer_trust_win32.h"

namespace trv {

const wchar_t* UpdateMessageText(UpdateMessage message) {
    switch (message) {
    case UpdateMessage::DownloadFailed:
        return L"업데이트 파일 다운로드에 실패 했습니다!   ";
    case UpdateMessage::ServerVersionUnreadable:
        return L"서버 버전정보 파일을 열 수 없습니다!   ";
    }
    return L"";
}

namespace {

bool IsMissingError(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool NothingAt(const std::string& path) {
    return GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES &&
           IsMissingError(GetLastError());
}

// The run folder's access lists. Private: only the current user may change
// the folder and what is created in it, and it inherits nothing from the
// temporary folder; the administrators and the system may read and run what
// is in it (an installer elevated under another administrator's account must
// still load). Downloading, from the folder's creation on: the same, but
// nobody may change the folder's list or owner or delete it, the owner
// included (the OWNER RIGHTS entry takes away the owner's implicit right),
// so only the handle its create returned can seal it later. Sealed, once the
// installer is in: everybody may only read and run.
class FolderSecurity {
public:
    enum class Kind { Private, Downloading, Sealed };

    explicit FolderSecurity(Kind kind) {
        HANDLE raw = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return;
        UniqueHandle token(raw);
        DWORD size = 0;
        GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
        if (size == 0) return;
        m_user.resize(size);
        if (!GetTokenInformation(token.Get(), TokenUser, m_user.data(), size, &size)) return;
        PSID user = reinterpret_cast<TOKEN_USER*>(m_user.data())->User.Sid;
        if (!WellKnown(WinBuiltinAdministratorsSid, m_admins) ||
            !WellKnown(WinLocalSystemSid, m_system) || !WellKnown(WinCreatorOwnerRightsSid, m_owner))
            return;
        m_acl.resize(sizeof(ACL) + 4 * sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(user) +
                     m_admins.size() + m_system.size() + m_owner.size());
        auto* acl = reinterpret_cast<PACL>(m_acl.data());
        constexpr DWORD kReadRun = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;
        constexpr DWORD kKeepList = FILE_ALL_ACCESS & ~(WRITE_DAC | WRITE_OWNER | DELETE);
        const DWORD mask = kind == Kind::Private       ? FILE_ALL_ACCESS
                           : kind == Kind::Downloading ? kKeepList
                                                       : kReadRun;
        // Sealed entries are the folder's own: what is already in it keeps its list.
        const DWORD inherit = kind == Kind::Sealed ? 0 : OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
        m_ok = InitializeAcl(acl, static_cast<DWORD>(m_acl.size()), ACL_REVISION) &&
               (kind == Kind::Private ||
                AddAccessAllowedAceEx(acl, ACL_REVISION, 0, mask, m_owner.data())) &&
               AddAccessAllowedAceEx(acl, ACL_REVISION, inherit, mask, user) &&
               AddAccessAllowedAceEx(acl, ACL_REVISION, inherit, kReadRun, m_admins.data()) &&
               AddAccessAllowedAceEx(acl, ACL_REVISION, inherit, kReadRun, m_system.data()) &&
               InitializeSecurityDescriptor(&m_descriptor, SECURITY_DESCRIPTOR_REVISION) &&
               SetSecurityDescriptorDacl(&m_descriptor, TRUE, acl, FALSE) &&
               SetSecurityDescriptorControl(&m_descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    }
    // nullptr where the system gives no such thing.
    PSECURITY_DESCRIPTOR Descriptor() { return m_ok ? &m_descriptor : nullptr; }
    // Sets this list on the open folder alone: nothing in it is touched.
    bool ApplyTo(HANDLE folder) {
        return m_ok && SetKernelObjectSecurity(folder, DACL_SECURITY_INFORMATION, &m_descriptor);
    }

private:
    static bool WellKnown(WELL_KNOWN_SID_TYPE type, std::vector<BYTE>& sid) {
        DWORD size = SECURITY_MAX_SID_SIZE;
        sid.resize(size);
        if (!CreateWellKnownSid(type, nullptr, sid.data(), &size)) return false;
        sid.resize(size);
        return true;
    }

    std::vector<BYTE> m_user;
    std::vector<BYTE> m_admins;
    std::vector<BYTE> m_system;
    std::vector<BYTE> m_owner;
    std::vector<BYTE> m_acl;
    SECURITY_DESCRIPTOR m_descriptor{};
    bool m_ok = false;
};

std::uint64_t FileIndex(const BY_HANDLE_FILE_INFORMATION& info) {
    return (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
}

}  // namespace

std::string Win32UpdateSystem::ProgramFilesFolder() { return SystemProgramFilesFolder(); }

bool Win32UpdateSystem::TempFolder(std::string& folder) { return SystemTempFolder(folder); }

DownloadResult Win32UpdateSystem::DownloadFile(const std::string& url, const std::string& target,
                                               const DownloadLimits& limits) {
    return DownloadUpdateFile(url, target, limits, m_progress, m_pumpSent, m_cancel);
}

bool Win32UpdateSystem::FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool Win32UpdateSystem::RemoveFile(const std::string& path) {
    DeleteFileA(path.c_str());
    // A file still open elsewhere may only be marked for deletion: it is
    // gone only once nothing answers at its name.
    return NothingAt(path);
}

ReadStatus Win32UpdateSystem::ReadHead(const std::string& path, std::size_t maxBytes,
                                       std::string& bytes) {
    bytes.clear();
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return IsMissingError(GetLastError()) ? ReadStatus::Missing : ReadStatus::Unreadable;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return ReadStatus::Unreadable;
    // Others may still be writing it; share everything so we never block them.
    UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        return GetLastError() == ERROR_FILE_NOT_FOUND ? ReadStatus::Missing
                                                      : ReadStatus::Unreadable;
    }
    // Only a file: a device or pipe under that name could block the read.
    if (GetFileType(file.Get()) != FILE_TYPE_DISK) return ReadStatus::Unreadable;
    std::vector<char> buffer(maxBytes);
    DWORD total = 0;
    while (total < maxBytes) {
        DWORD got = 0;
        if (!ReadFile(file.Get(), buffer.data() + total, static_cast<DWORD>(maxBytes - total),
                      &got, nullptr)) {
            return ReadStatus::Unreadable;
        }
        if (got == 0) break;
        total += got;
    }
    bytes.assign(buffer.data(), total);
    return ReadStatus::Ok;
}

bool Win32UpdateSystem::CreatePrivateFolder(const std::string& path) {
    UniqueHandle pin = CreateRunFolderPinned(path);
    if (!pin.Valid()) return false;
    m_pinned = std::move(pin);
    m_pinnedPath = path;
    return true;
}

UniqueHandle Win32UpdateSystem::TakePinnedFolder(const std::string& path) {
    if (path != m_pinnedPath) return UniqueHandle();
    m_pinnedPath.clear();
    return std::move(m_pinned);
}

bool Win32UpdateSystem::RemoveFolder(const std::string& path) {
    UniqueHandle none;
    const bool removed = RemoveFolderPinned(path, path == m_pinnedPath ? m_pinned : none);
    if (!m_pinned.Valid()) m_pinnedPath.clear();
    return removed;
}

std::uint64_t Win32UpdateSystem::RandomNumber() {
    std::uint64_t value = 0;
    if (BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&value), sizeof value,
                        BCRYPT_USE_SYSTEM_PREFERRED_RNG) >= 0) {
        return value;
    }
    // Without the system's generator a name is only unlikely to be taken;
    // the folder is still refused when it exists.
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<std::uint64_t>(counter.QuadPart) ^
           (static_cast<std::uint64_t>(GetCurrentProcessId()) << 32) ^ GetTickCount();
}

void Win32UpdateSystem::ShowMessage(UpdateMessage message) {
    MessageBoxW(m_owner, UpdateMessageText(message), kUpdateMessageTitle, MB_OK);
}

namespace {

// Deletes the files directly in the folder and removes the empty folders
// and links in it. true when nothing is left in it.
bool EmptyFolder(const std::string& path) {
    const std::string folder = path.empty() || path.back() == '\\' ? path : path + '\\';
    bool empty = true;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return NothingAt(folder);
    do {
        const std::string name = found.cFileName;
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            empty = (DeleteFileA((folder + name).c_str()) || NothingAt(folder + name)) && empty;
        } else if (name != "." && name != "..") {
            // Only an empty folder or the link itself goes: nothing is
            // followed into or emptied out of what someone else put here.
            empty = RemoveDirectoryA((folder + name).c_str()) && empty;
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return empty;
}

}  // namespace

bool RemoveFolderPinned(const std::string& path, UniqueHandle& pin) {
    if (pin.Valid()) {
        // Given back to the user through the pin (nobody else can change
        // its list), and emptied while still pinned, so the path names this
        // folder and nothing planted in its place.
        if (!FolderSecurity(FolderSecurity::Kind::Private).ApplyTo(pin.Get()) || !EmptyFolder(path))
            return false;
        pin.Reset();
    }
    // Swept once more: what got in after the pin went.
    EmptyFolder(path);
    const std::string folder = path.empty() || path.back() == '\\' ? path : path + '\\';
    return RemoveDirectoryA(folder.c_str()) != FALSE || NothingAt(folder);
}

UniqueHandle CreateRunFolderPinned(const std::string& path) {
    FolderSecurity security(FolderSecurity::Kind::Downloading);
    std::wstring wide = WidenAnsi(path);
    while (wide.size() > 1 && wide.back() == L'\\') wide.pop_back();
    UNICODE_STRING name{};
    if (!security.Descriptor() || wide.empty() ||
        !RtlDosPathNameToNtPathName_U(wide.c_str(), &name, nullptr, nullptr))
        return UniqueHandle();
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, nullptr,
                               security.Descriptor());
    IO_STATUS_BLOCK io{};
    HANDLE folder = nullptr;
    // A new folder only: anything at the name, a link included, fails it.
    // Without delete sharing: nobody renames or removes it under the pin.
    const NTSTATUS status =
        NtCreateFile(&folder, READ_CONTROL | WRITE_DAC | FILE_LIST_DIRECTORY | SYNCHRONIZE,
                     &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_CREATE,
                     FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    RtlFreeUnicodeString(&name);
    return UniqueHandle(status >= 0 ? folder : nullptr);
}

bool SealRunFolder(HANDLE folder) {
    return FolderSecurity(FolderSecurity::Kind::Sealed).ApplyTo(folder);
}

bool ListRunFolder(HANDLE folder, HANDLE held, std::vector<RunFolderEntry>& entries) {
    entries.clear();
    BY_HANDLE_FILE_INFORMATION heldInfo, folderInfo;
    if (!GetFileInformationByHandle(held, &heldInfo) ||
        !GetFileInformationByHandle(folder, &folderInfo))
        return false;
    const bool sameVolume = heldInfo.dwVolumeSerialNumber == folderInfo.dwVolumeSerialNumber;
    std::vector<std::uint64_t> buffer(64 * 1024 / sizeof(std::uint64_t));
    FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
    for (;;) {
        if (!GetFileInformationByHandleEx(folder, kind, buffer.data(),
                                          static_cast<DWORD>(buffer.size() * sizeof buffer[0])))
            return GetLastError() == ERROR_NO_MORE_FILES;
        kind = FileIdBothDirectoryInfo;
        const BYTE* at = reinterpret_cast<const BYTE*>(buffer.data());
        for (;;) {
            const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
            const std::wstring wide(entry->FileName, entry->FileNameLength / sizeof(WCHAR));
            // Names are compared as the system gives them; one that does not
            // convert cleanly is never "setup.exe".
            std::string name;
            BOOL lossy = FALSE;
            const int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()),
                                              nullptr, 0, nullptr, &lossy);
            if (n > 0 && !lossy) {
                name.resize(static_cast<std::size_t>(n));
                WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), &name[0],
                                    n, nullptr, nullptr);
            } else {
                name = "?";
            }
            const bool directory = (entry->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            const bool same = sameVolume && !directory &&
                              static_cast<std::uint64_t>(entry->FileId.QuadPart) == FileIndex(heldInfo);
            entries.push_back({name, directory, same});
            if (entry->NextEntryOffset == 0) break;
            at += entry->NextEntryOffset;
        }
    }
}

FolderVerdict SealAndOpenRunFolder(HANDLE folder, const std::string& setupFile, UniqueHandle& held) {
    held.Reset();
    if (!folder || !SealRunFolder(folder)) return FolderVerdict::NotSealed;
    // Sealed, nothing can be added or renamed in it: the file opened is the
    // download moved there, or nothing.
    held = OpenInstallerHeld(setupFile);
    // Unreadable: the signature check refuses it.
    if (!held.Valid()) return FolderVerdict::OnlyInstaller;
    std::vector<RunFolderEntry> entries;
    if (!ListRunFolder(folder, held.Get(), entries)) return FolderVerdict::NotSealed;
    return JudgeRunFolder(entries);
}

}  // namespace trv
