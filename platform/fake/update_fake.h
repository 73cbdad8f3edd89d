// In-memory stand-in for the install/update check's system: files with their
// bytes, files that exist but cannot be read, a downloader that serves fixed
// bytes per URL or fails, and an ordered log of what was done.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/update_platform.h"

namespace trv {

class FakeUpdateSystem : public IUpdateSystem {
public:
    struct Served {
        bool fails = false;    // transport failure or an HTTP error status
        bool writes = true;    // a success that still leaves no file
        std::string body;
    };

    std::string programFiles = "C:\\Program Files";
    std::string tempFolder = "C:\\Temp\\";
    bool hasTempFolder = true;
    std::map<std::string, Served> server;  // by URL; a URL not here fails

    std::map<std::string, std::string> files;  // path -> bytes
    std::set<std::string> unreadable;          // exist, but reading fails
    std::vector<std::string> calls;            // ordered log
    std::vector<UpdateMessage> messages;

    std::string ProgramFilesFolder() override;
    bool TempFolder(std::string& folder) override;
    bool DownloadFile(const std::string& url, const std::string& target) override;
    bool FileExists(const std::string& path) override;
    void RemoveFile(const std::string& path) override;
    ReadStatus ReadHead(const std::string& path, std::size_t maxBytes,
                        std::string& bytes) override;
    void ShowMessage(UpdateMessage message) override;
};

}  // namespace trv
