#include "platform/fake/update_fake.h"

namespace trv {

std::string FakeUpdateSystem::ProgramFilesFolder() { return programFiles; }

bool FakeUpdateSystem::TempFolder(std::string& folder) {
    if (!hasTempFolder) return false;
    folder = tempFolder;
    return true;
}

DownloadResult FakeUpdateSystem::DownloadFile(const std::string& url, const std::string& target,
                                              const DownloadLimits& limits) {
    calls.push_back("download " + url + " -> " + target);
    limitsSeen.push_back(limits);
    auto it = server.find(url);
    if (it == server.end()) return {DownloadOutcome::TransportFailed, 0};
    if (it->second.outcome != DownloadOutcome::Ok) {
        return {it->second.outcome, it->second.httpStatus};
    }
    if (it->second.writes) {
        files[target] = it->second.body;
        unreadable.erase(target);
    }
    return {DownloadOutcome::Ok, it->second.httpStatus};
}

bool FakeUpdateSystem::FileExists(const std::string& path) {
    return files.count(path) != 0 || unreadable.count(path) != 0;
}

bool FakeUpdateSystem::RemoveFile(const std::string& path) {
    calls.push_back("remove " + path);
    if (undeletable.count(path)) return false;
    files.erase(path);
    unreadable.erase(path);
    return true;
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

bool FakeUpdateSystem::CreatePrivateFolder(const std::string& path) {
    calls.push_back("mkdir " + path);
    if (foldersRefused || !folders.insert(path).second) return false;
    return true;
}

bool FakeUpdateSystem::RemoveFolder(const std::string& path) {
    calls.push_back("rmdir " + path);
    if (foldersStick) return false;
    for (auto it = files.begin(); it != files.end();) {
        const bool inside = it->first.compare(0, path.size(), path) == 0 &&
                            it->first.find('\\', path.size()) == std::string::npos;
        it = inside ? files.erase(it) : std::next(it);
    }
    folders.erase(path);
    return true;
}

std::uint64_t FakeUpdateSystem::RandomNumber() {
    if (randoms.empty()) return 0;
    const std::uint64_t value = randoms.front();
    randoms.pop_front();
    return value;
}

void FakeUpdateSystem::ShowMessage(UpdateMessage message) {
    calls.push_back(message == UpdateMessage::DownloadFailed ? "message download-failed"
                                                             : "message server-version");
    messages.push_back(message);
}

}  // namespace trv
