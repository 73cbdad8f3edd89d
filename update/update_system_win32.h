// The install/update check's system calls on Win32.
#pragma once

#include <windows.h>

#include <vector>

#include "platform/update_platform.h"
#include "platform/win32/com_util.h"
#include "update/ccallback.h"
#include "update/update_flow.h"

namespace trv {

class Win32UpdateSystem : public IUpdateSystem {
public:
    // owner: parent of the message boxes. progress: told of the download's
    // progress on the fetching thread, or empty. pumpSent: this thread owns
    // windows and keeps answering sent messages while a download runs.
    // cancel: an event that ends a download at once when set, or null.
    Win32UpdateSystem(HWND owner, ProgressSink progress, bool pumpSent, HANDLE cancel = nullptr)
        : m_owner(owner), m_progress(std::move(progress)), m_pumpSent(pumpSent), m_cancel(cancel) {}

    std::string ProgramFilesFolder() override;
    bool TempFolder(std::string& folder) override;
    DownloadResult DownloadFile(const std::string& url, const std::string& target,
                                const DownloadLimits& limits) override;
    bool FileExists(const std::string& path) override;
    bool RemoveFile(const std::string& path) override;
    ReadStatus ReadHead(const std::string& path, std::size_t maxBytes,
                        std::string& bytes) override;
    // The new folder stays pinned by this object until taken or removed.
    bool CreatePrivateFolder(const std::string& path) override;
    // The pin of the folder made at path, to seal it; invalid for any other path.
    UniqueHandle TakePinnedFolder(const std::string& path);
    bool RemoveFolder(const std::string& path) override;
    std::uint64_t RandomNumber() override;
    void ShowMessage(UpdateMessage message) override;

private:
    HWND m_owner;
    ProgressSink m_progress;
    bool m_pumpSent;
    HANDLE m_cancel;
    UniqueHandle m_pinned;  // the folder this object made, open since its creation
    std::string m_pinnedPath;
};

// Removes the folder and what is directly in it (empty folders and links
// only, never what they lead to). With a valid pin (a handle that keeps the
// folder from being renamed or replaced, and the only one that may change
// its list) it is given back to the user through the pin and emptied first,
// and the pin let go after. false while something is left.
bool RemoveFolderPinned(const std::string& path, UniqueHandle& pin);

// Makes the run's folder, new, with its downloading list from its first
// moment: files may come and go, but nobody, its owner included, may change
// its list or owner or delete it. Returns the create's own handle, the only
// one that ever holds the right to change the list (to seal it); nobody may
// rename or remove the folder while it is open. Invalid when anything is at
// `path` already or the system refuses.
UniqueHandle CreateRunFolderPinned(const std::string& path);
// Nobody, its owner included, may add, change or remove anything in it.
bool SealRunFolder(HANDLE folder);
// The folder's entries read through its handle; an entry that is the file
// open as `held` is marked so.
bool ListRunFolder(HANDLE folder, HANDLE held, std::vector<RunFolderEntry>& entries);
// Seals the folder open as `folder` (its pin), only then opens its installer
// `setupFile` as `held` (invalid when it cannot be read), and judges what
// the folder holds.
FolderVerdict SealAndOpenRunFolder(HANDLE folder, const std::string& setupFile, UniqueHandle& held);

// The texts the user sees, each in a box titled "알림".
const wchar_t* UpdateMessageText(UpdateMessage message);
constexpr wchar_t kUpdateMessageTitle[] = L"알림";

}  // namespace trv
