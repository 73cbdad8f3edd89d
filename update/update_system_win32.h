// The install/update check's system calls on Win32.
#pragma once

#include <windows.h>

#include "platform/update_platform.h"
#include "update/ccallback.h"

namespace trv {

class Win32UpdateSystem : public IUpdateSystem {
public:
    // owner: parent of the message boxes. progress: told of the download's
    // progress on the fetching thread, or empty. pumpSent: this thread owns
    // windows and keeps answering sent messages while a download runs.
    Win32UpdateSystem(HWND owner, ProgressSink progress, bool pumpSent)
        : m_owner(owner), m_progress(std::move(progress)), m_pumpSent(pumpSent) {}

    std::string ProgramFilesFolder() override;
    bool TempFolder(std::string& folder) override;
    DownloadResult DownloadFile(const std::string& url, const std::string& target,
                                const DownloadLimits& limits) override;
    bool FileExists(const std::string& path) override;
    bool RemoveFile(const std::string& path) override;
    ReadStatus ReadHead(const std::string& path, std::size_t maxBytes,
                        std::string& bytes) override;
    bool CreatePrivateFolder(const std::string& path) override;
    bool RemoveFolder(const std::string& path) override;
    std::uint64_t RandomNumber() override;
    void ShowMessage(UpdateMessage message) override;

private:
    HWND m_owner;
    ProgressSink m_progress;
    bool m_pumpSent;
};

// The texts the user sees, each in a box titled "알림".
const wchar_t* UpdateMessageText(UpdateMessage message);
constexpr wchar_t kUpdateMessageTitle[] = L"알림";

}  // namespace trv
