// In-memory stand-in for the install/update check's system: files with their
// bytes, files that exist but cannot be read or deleted, folders, a
// downloader that serves fixed bytes per URL or fails in a given way, a
// scripted random source, and an ordered log of what was done.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/update_platform.h"

namespace trv {

class FakeUpdateSystem : public IUpdateSystem {
public:
    struct Served {
        DownloadOutcome outcome = DownloadOutcome::Ok;  // anything else fails
        std::uint32_t httpStatus = 200;
        bool writes = true;  // a success that still leaves no file
        std::string body;
    };

    std::string programFiles = "C:\\Program Files";
    std::string tempFolder = "C:\\Temp\\";
    bool hasTempFolder = true;
    std::map<std::string, Served> server;  // by URL; a URL not here fails

    std::map<std::string, std::string> files;  // path -> bytes
    std::set<std::string> unreadable;          // exist, but reading fails
    std::set<std::string> undeletable;         // exist, and deleting fails
    std::set<std::string> folders;             // paths with their final backslash
    bool foldersRefused = false;               // CreatePrivateFolder always fails
    bool foldersStick = false;                 // RemoveFolder leaves them
    std::deque<std::uint64_t> randoms;         // RandomNumber's answers, then 0s
    std::vector<std::string> calls;            // ordered log
    std::vector<UpdateMessage> messages;
    std::vector<DownloadLimits> limitsSeen;    // per DownloadFile call

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
};

}  // namespace trv
