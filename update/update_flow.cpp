#include "update/update_flow.h"

#include "platform/install_folder.h"

namespace trv {

std::string UpdateUrl(const std::string& host, const char* path) {
    return "http://" + host + path;
}

std::string VersionText(const std::string& head) {
    const std::string limited = head.substr(0, kVersionTextMax);
    return limited.substr(0, limited.find('\0'));
}

bool SameVersion(const std::string& serverHead, const std::string& localHead) {
    return VersionText(serverHead) == VersionText(localHead);
}

bool MakeUpdatePaths(IUpdateSystem& system, UpdatePaths& paths) {
    paths = UpdatePaths{};
    // Same rule as the control object's install folder.
    paths.installPath = InstallFolderFrom(system.ProgramFilesFolder());
    paths.localVerFile = paths.installPath + kLocalVersionName;
    std::string temp;
    if (!system.TempFolder(temp) || temp.empty()) return false;
    paths.tempPath = temp;
    paths.serverVerFile = temp + kServerVersionName;
    paths.setupFile = temp + kSetupName;
    paths.resultFile = temp + kResultName;
    return true;
}

CheckResult RunVersionCheck(IUpdateSystem& system, const UpdatePaths& paths,
                            const std::string& versionUrl) {
    if (paths.tempPath.empty()) {
        system.ShowMessage(UpdateMessage::DownloadFailed);
        return {CheckOutcome::End, 2};
    }

    // A failed fetch asks the dialog to end with 2, yet an earlier copy still
    // gets compared: the last end request made decides the code.
    int endRequest = 0;
    if (!system.DownloadFile(versionUrl, paths.serverVerFile)) {
        system.ShowMessage(UpdateMessage::DownloadFailed);
        endRequest = 2;
    }

    // A copy that exists but cannot be read is as good as none.
    std::string serverHead;
    if (system.ReadHead(paths.serverVerFile, kVersionTextMax, serverHead) != ReadStatus::Ok) {
        system.ShowMessage(UpdateMessage::ServerVersionUnreadable);
        return {CheckOutcome::End, 2};
    }

    // An installed copy that cannot be read counts as not installed.
    std::string localHead;
    if (system.ReadHead(paths.localVerFile, kVersionTextMax, localHead) != ReadStatus::Ok ||
        !SameVersion(serverHead, localHead)) {
        if (endRequest != 0) return {CheckOutcome::End, endRequest};
        return {CheckOutcome::StartUpdate, 0};
    }
    return {CheckOutcome::End, 1};
}

bool DownloadInstaller(IUpdateSystem& system, const UpdatePaths& paths,
                       const std::string& setupUrl) {
    system.RemoveFile(paths.setupFile);
    system.RemoveFile(paths.resultFile);
    return system.DownloadFile(setupUrl, paths.setupFile);
}

ProgressDisplay MakeProgressDisplay(std::uint32_t progress, std::uint32_t progressMax,
                                    const SizeFormatter& formatSize) {
    ProgressDisplay display;
    if (progressMax != 0) {
        display.text = "Downloaded.. " + formatSize(progress) + " of " + formatSize(progressMax) +
                       "       ";
        const double share = static_cast<double>(progress) * 100.0 / progressMax;
        // A server that sends more than it announced must not overrun the bar.
        display.percent = share >= 100.0 ? 100 : static_cast<int>(share);
    } else {
        display.text = "Downloaded.. " + formatSize(progress);
        display.percent = 0;
    }
    // The line is formatted into a 256-byte buffer.
    if (display.text.size() > 255) display.text.resize(255);
    return display;
}

int ParseInstallResult(const std::string& head) {
    const std::string two = head.substr(0, kResultHeadMax);
    std::size_t i = 0;
    bool negative = false;
    if (i < two.size() && (two[i] == '-' || two[i] == '+')) {
        negative = two[i] == '-';
        ++i;
    }
    int value = 0;
    for (; i < two.size() && two[i] >= '0' && two[i] <= '9'; ++i) value = value * 10 + (two[i] - '0');
    return negative ? -value : value;
}

std::uintptr_t InstallResultParam(int result) {
    return static_cast<std::uintptr_t>(static_cast<std::intptr_t>(result) + 1);
}

int EndCodeForInstallResult(std::uintptr_t param) { return param == 0 ? 2 : 1; }

InstallWatch::Step InstallWatch::Tick(ReadStatus status, const std::string& head,
                                      bool installerEnded) {
    if (status == ReadStatus::Ok) {
        return {Action::Finish, InstallResultParam(ParseInstallResult(head))};
    }
    // A result file still being written is tried again at the next tick.
    if (status == ReadStatus::Unreadable || !installerEnded || m_closable) {
        return {Action::Wait, 0};
    }
    if (++m_endedTicks < m_graceTicks) return {Action::Wait, 0};
    m_closable = true;
    return {Action::InstallerGone, 0};
}

}  // namespace trv
