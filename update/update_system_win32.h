// The install/update check's system calls on Win32.
#pragma once

#include <windows.h>

#include "platform/update_platform.h"

namespace trv {

class Win32UpdateSystem : public IUpdateSystem {
public:
    // owner: parent of the message boxes. progressDialog: the dialog that
    // shows download progress, or nullptr for none.
    Win32UpdateSystem(HWND owner, HWND progressDialog)
        : m_owner(owner), m_progressDialog(progressDialog) {}

    std::string ProgramFilesFolder() override;
    bool TempFolder(std::string& folder) override;
    bool DownloadFile(const std::string& url, const std::string& target) override;
    bool FileExists(const std::string& path) override;
    void RemoveFile(const std::string& path) override;
    ReadStatus ReadHead(const std::string& path, std::size_t maxBytes,
                        std::string& bytes) override;
    void ShowMessage(UpdateMessage message) override;

private:
    HWND m_owner;
    HWND m_progressDialog;
};

// The texts the user sees, each in a box titled "알림".
const wchar_t* UpdateMessageText(UpdateMessage message);
constexpr wchar_t kUpdateMessageTitle[] = L"알림";

}  // namespace trv
