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
    Unreadable,  // exists, but cannot be opened or read (a folder, locked, denied)
};

// Messages the user sees, each titled "알림"; the shell holds their texts.
enum class UpdateMessage {
    DownloadFailed,          // a download failed, or the server answered with an error
    ServerVersionUnreadable, // the downloaded version file is missing or unreadable
};

// Bounds on one fetch.
struct DownloadLimits {
    std::uint32_t stallMs;   // no byte for this long ends it
    std::uint32_t maxBytes;  // a body announced or received beyond this ends it
    // The whole fetch ends this long after its request, however slowly bytes
    // keep coming; 0: no such bound.
    std::uint32_t totalMs = 0;
};

// How a fetch ended; every value but Ok is a failed download.
enum class DownloadOutcome {
    Ok,
    TransportFailed,   // no connection, a broken one, a certificate the machine does not trust
    HttpError,         // the server answered 400 or above
    Incomplete,        // fewer bytes than the server announced
    Stalled,           // no byte came within the bound
    TimedOut,          // not whole by the fetch's deadline
    Cancelled,         // the user closed the dialog
    TooLarge,          // the body passed the size cap
    InsecureRedirect,  // a fetch over TLS was sent on to a plain address
    NotSaved,          // fetched, but the file could not be put in place
};
const char* DownloadOutcomeName(DownloadOutcome outcome);

struct DownloadResult {
    DownloadOutcome outcome = DownloadOutcome::TransportFailed;
    std::uint32_t httpStatus = 0;  // 0 when no answer came
    bool Ok() const { return outcome == DownloadOutcome::Ok; }
};

class IUpdateSystem {
public:
    virtual ~IUpdateSystem() = default;

    // Empty when the system gives none.
    virtual std::string ProgramFilesFolder() = 0;
    // false when there is no temporary folder.
    virtual bool TempFolder(std::string& folder) = 0;

    // Drops the URL's cache entry, then fetches it into target within the
    // limits, blocking. Only a whole, good answer replaces target.
    virtual DownloadResult DownloadFile(const std::string& url, const std::string& target,
                                        const DownloadLimits& limits) = 0;

    virtual bool FileExists(const std::string& path) = 0;
    // true when nothing is left at path afterwards (removed, or never there).
    virtual bool RemoveFile(const std::string& path) = 0;
    // Reads at most maxBytes from the start of the file.
    virtual ReadStatus ReadHead(const std::string& path, std::size_t maxBytes,
                                std::string& bytes) = 0;

    // A new folder at path that only the current user may change, where the
    // system supports that. false when anything is already there.
    virtual bool CreatePrivateFolder(const std::string& path) = 0;
    // Removes the folder and the files directly in it. false while anything
    // keeps it (a program still running from it, or with it as its current folder).
    virtual bool RemoveFolder(const std::string& path) = 0;
    // Unpredictable to other programs.
    virtual std::uint64_t RandomNumber() = 0;

    // Modal over the dialog; returns once the user has dismissed it.
    virtual void ShowMessage(UpdateMessage message) = 0;
};

}  // namespace trv
