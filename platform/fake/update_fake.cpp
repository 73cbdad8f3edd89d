#include "platform/fake/update_fake.h"

namespace trv {

std::string FakeUpdateSystem::ProgramFilesFolder() { return programFiles; }

bool FakeUpdateSystem::TempFolder(std::string& folder) {
    if (!hasTempFolder) return false;
    folder = tempFolder;
    return true;
}

bool FakeUpdateSystem::DownloadFile(const std::string& url, const std::string& target) {
    calls.push_back("download " + url + " -> " + target);
    auto it = server.find(url);
    if (it == server.end() || it->second.fails) return false;
    if (it->second.writes) {
        files[target] = it->second.body;
        unreadable.erase(target);
    }
    return true;
}

bool FakeUpdateSystem::FileExists(const std::string& path) {
    return files.count(path) != 0 || unreadable.count(path) != 0;
}

void FakeUpdateSystem::RemoveFile(const std::string& path) {
    calls.push_back("remove " + path);
    files.erase(path);
    unreadable.erase(path);
}

ReadStatus FakeUpdateSystem::ReadHead(const std::string& path, std::size_t maxBytes,
                                      std::string& bytes) {
    calls.push_back("read " + path);
    bytes.clear();
    if (unreadable.count(path)) return ReadStatus::Unreadable;
    auto it = files.find(path);
    if (it == files.end()) return ReadStatus::Missing;
    bytes = it->second.substr(0, maxBytes);
    return ReadStatus::Ok;
}

void FakeUpdateSystem::ShowMessage(UpdateMessage message) {
    calls.push_back(message == UpdateMessage::DownloadFailed ? "message download-failed"
                                                             : "message server-version");
    messages.push_back(message);
}

}  // namespace trv
