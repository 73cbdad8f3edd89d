// What the install/update check needs from the system, beyond IPlatform.
// The core's decisions (update/update_flow.h) run against this; the dialog
// implements it with real calls, unit tests with platform/fake/update_fake.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace trv {

enum class ReadStatus {
    Ok,
    Missing,     // no such file
    Unreadable,  // exists, but cannot be opened or read
};

// Messages the user sees, each titled "알림"; the shell holds their texts.
enum class UpdateMessage {
    DownloadFailed,          // a download failed, or the server answered with an error
    ServerVersionUnreadable, // the downloaded version file is missing or unreadable
};

class IUpdateSystem {
public:
    virtual ~IUpdateSystem() = default;

    // Empty when the system gives none.
    virtual std::string ProgramFilesFolder() = 0;
    // false when there is no temporary folder.
    virtual bool TempFolder(std::string& folder) = 0;

    // Drops the URL's cache entry, then fetches it into target, blocking.
    // false on a transport failure or an HTTP status of 400 or above.
    virtual bool DownloadFile(const std::string& url, const std::string& target) = 0;

    virtual bool FileExists(const std::string& path) = 0;
    // A failure (for example, no such file) is not reported.
    virtual void RemoveFile(const std::string& path) = 0;
    // Reads at most maxBytes from the start of the file.
    virtual ReadStatus ReadHead(const std::string& path, std::size_t maxBytes,
                                std::string& bytes) = 0;

    // Modal over the dialog; returns once the user has dismissed it.
    virtual void ShowMessage(UpdateMessage message) = 0;
};

}  // namespace trv
