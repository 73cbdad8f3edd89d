#include "update/update_system_win32.h"

#include <vector>

#include "platform/win32/com_util.h"
#include "platform/win32/win32_platform.h"
#include "update/ccallback.h"

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

std::string Win32UpdateSystem::ProgramFilesFolder() { return SystemProgramFilesFolder(); }

bool Win32UpdateSystem::TempFolder(std::string& folder) { return SystemTempFolder(folder); }

bool Win32UpdateSystem::DownloadFile(const std::string& url, const std::string& target) {
    return DownloadUpdateFile(url, target, m_progressDialog);
}

bool Win32UpdateSystem::FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void Win32UpdateSystem::RemoveFile(const std::string& path) { DeleteFileA(path.c_str()); }

ReadStatus Win32UpdateSystem::ReadHead(const std::string& path, std::size_t maxBytes,
                                       std::string& bytes) {
    bytes.clear();
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? ReadStatus::Missing
                   : ReadStatus::Unreadable;
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

void Win32UpdateSystem::ShowMessage(UpdateMessage message) {
    MessageBoxW(m_owner, UpdateMessageText(message), kUpdateMessageTitle, MB_OK);
}

}  // namespace trv
