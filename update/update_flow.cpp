#include "update/update_flow.h"

#include "platform/install_folder.h"

namespace trv {

const char* DownloadOutcomeName(DownloadOutcome outcome) {
    switch (outcome) {
    case DownloadOutcome::Ok: return "ok";
    case DownloadOutcome::TransportFailed: return "transport-failed";
    case DownloadOutcome::HttpError: return "http-error";
    case DownloadOutcome::Incomplete: return "incomplete";
    case DownloadOutcome::Stalled: return "stalled";
    case DownloadOutcome::TimedOut: return "timed-out";
    case DownloadOutcome::Cancelled: return "cancelled";
    case DownloadOutcome::TooLarge: return "too-large";
    case DownloadOutcome::InsecureRedirect: return "insecure-redirect";
    case DownloadOutcome::NotSaved: return "not-saved";
    }
    return "unknown";
}

namespace {

// The scheme in lower case when text starts with "<letters>://"; empty otherwise.
std::string SchemeOf(const std::string& text) {
    const std::size_t colon = text.find("://");
    if (colon == std::string::npos || colon == 0) return std::string();
    std::string scheme;
    for (std::size_t i = 0; i < colon; ++i) {
        const char c = text[i];
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!letter) return std::string();
        scheme += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    return scheme;
}

}  // namespace

std::string UpdateUrl(const std::string& base, const char* path) {
    std::string scheme = SchemeOf(base);
    std::string host = scheme.empty() ? base : base.substr(scheme.size() + 3);
    if (scheme.empty()) scheme = "http";
    while (!host.empty() && host.back() == '/') host.pop_back();
    return scheme + "://" + host + path;
}

bool RedirectAllowed(const std::string& fromUrl, const std::string& toUrl) {
    return SchemeOf(fromUrl) != "https" || SchemeOf(toUrl) == "https";
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
    paths.resultFile = temp + kResultName;
    return true;
}

CheckResult RunVersionCheck(IUpdateSystem& system, const UpdatePaths& paths,
                            const std::string& versionUrl, const DownloadLimits& limits) {
    if (paths.tempPath.empty()) {
        system.ShowMessage(UpdateMessage::DownloadFailed);
        return {CheckOutcome::End, 2, {}};
    }

    // A failed fetch asks the dialog to end with 2, yet an earlier copy still
    // gets compared: the last end request made decides the code.
    int endRequest = 0;
    const DownloadResult fetch = system.DownloadFile(versionUrl, paths.serverVerFile, limits);
    if (!fetch.Ok()) {
        system.ShowMessage(UpdateMessage::DownloadFailed);
        endRequest = 2;
    }

    // A copy that exists but cannot be read is as good as none.
    std::string serverHead;
    if (system.ReadHead(paths.serverVerFile, kVersionTextMax, serverHead) != ReadStatus::Ok) {
        system.ShowMessage(UpdateMessage::ServerVersionUnreadable);
        return {CheckOutcome::End, 2, fetch};
    }

    // An installed copy that cannot be read counts as not installed.
    std::string localHead;
    if (system.ReadHead(paths.localVerFile, kVersionTextMax, localHead) != ReadStatus::Ok ||
        !SameVersion(serverHead, localHead)) {
        if (endRequest != 0) return {CheckOutcome::End, endRequest, fetch};
        return {CheckOutcome::StartUpdate, 0, fetch};
    }
    return {CheckOutcome::End, 1, fetch};
}

std::string RunFolderName(std::uint64_t random) {
    static const char kHex[] = "0123456789abcdef";
    std::string name = kRunFolderPrefix;
    for (int shift = 60; shift >= 0; shift -= 4) name += kHex[(random >> shift) & 0xF];
    return name + "\\";
}

bool CreateRunFolder(IUpdateSystem& system, const std::string& temp, std::string& folder) {
    // A name taken already (by chance, or by someone guessing) is never
    // reused: the folder must be new, so nothing else is in it.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::string candidate = temp + RunFolderName(system.RandomNumber());
        if (system.CreatePrivateFolder(candidate)) {
            folder = candidate;
            return true;
        }
    }
    folder.clear();
    return false;
}

InstallerFetch FetchInstaller(IUpdateSystem& system, const UpdatePaths& paths,
                              const std::string& setupUrl, const DownloadLimits& limits) {
    InstallerFetch fetch;
    // A result left by an earlier run would be taken for this run's.
    if (!system.RemoveFile(paths.resultFile)) {
        fetch.outcome = FetchOutcome::StaleResult;
        return fetch;
    }
    std::string folder;
    if (!CreateRunFolder(system, paths.tempPath, folder)) {
        fetch.outcome = FetchOutcome::NoRunFolder;
        return fetch;
    }
    const std::string setupFile = folder + kSetupName;
    fetch.download = system.DownloadFile(setupUrl, setupFile, limits);
    if (!fetch.download.Ok()) {
        if (!system.RemoveFolder(folder)) fetch.folder = folder;
        fetch.outcome = FetchOutcome::DownloadFailed;
        return fetch;
    }
    fetch.outcome = FetchOutcome::Ok;
    fetch.folder = folder;
    fetch.setupFile = setupFile;
    return fetch;
}

bool TransferWatch::Progress(std::uint32_t received, std::uint32_t announced,
                             std::uint32_t nowMs) {
    // Status reports repeat the count; only new bytes show the server alive.
    if (received > m_received) m_lastByteMs = nowMs;
    if (received > m_received) m_received = received;
    m_announced = announced;
    return received <= m_limits.maxBytes && announced <= m_limits.maxBytes;
}

bool TransferWatch::Stalled(std::uint32_t nowMs) const {
    // Unsigned difference: right across the clock's wrap.
    return static_cast<std::uint32_t>(nowMs - m_lastByteMs) >= m_limits.stallMs;
}

DownloadOutcome TransferWatch::Overdue(std::uint32_t nowMs) const {
    if (m_limits.totalMs != 0 && static_cast<std::uint32_t>(nowMs - m_startMs) >= m_limits.totalMs)
        return DownloadOutcome::TimedOut;
    return Stalled(nowMs) ? DownloadOutcome::Stalled : DownloadOutcome::Ok;
}

std::uint32_t InstallerDeadlineMs(std::uint32_t maxBytes) {
    const std::uint64_t transferMs =
        (static_cast<std::uint64_t>(maxBytes) * 1000 + kInstallerMinBytesPerSecond - 1) /
        kInstallerMinBytesPerSecond;
    return static_cast<std::uint32_t>(kInstallerDeadlineBaseMs + transferMs);
}

FolderVerdict JudgeRunFolder(const std::vector<RunFolderEntry>& entries) {
    bool installer = false;
    for (const RunFolderEntry& entry : entries) {
        if (entry.directory && (entry.name == "." || entry.name == "..")) continue;
        // Only the held file counts as the installer, whatever else is named so.
        if (!entry.directory && entry.heldInstaller && entry.name == kSetupName && !installer) {
            installer = true;
            continue;
        }
        return FolderVerdict::SomethingElse;
    }
    return installer ? FolderVerdict::OnlyInstaller : FolderVerdict::InstallerMissing;
}

const char* FolderVerdictText(FolderVerdict verdict) {
    switch (verdict) {
    case FolderVerdict::OnlyInstaller: return "the installer's folder holds only the installer";
    case FolderVerdict::NotSealed: return "the installer's folder could not be sealed and listed";
    case FolderVerdict::InstallerMissing: return "the installer's folder lacks the fetched installer";
    case FolderVerdict::SomethingElse: return "the installer's folder holds something else";
    }
    return "the installer's folder: unknown verdict";
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

bool ResultComplete(const std::string& head) {
    const std::string two = head.substr(0, kResultHeadMax);
    return !two.empty() && two != "-";
}

std::uintptr_t InstallResultParam(int result) {
    return static_cast<std::uintptr_t>(static_cast<std::intptr_t>(result) + 1);
}

int EndCodeForInstallResult(std::uintptr_t param) { return param == 0 ? 2 : 1; }

InstallWatch::Step InstallWatch::Tick(ReadStatus status, const std::string& head,
                                      bool installerEnded) {
    if (status == ReadStatus::Ok && ResultComplete(head)) {
        return {Action::Finish, InstallResultParam(ParseInstallResult(head)), Problem::None};
    }
    // Missing, unreadable or still being written: tried again at the next
    // tick while the installer runs, and for the grace once it has ended.
    if (!installerEnded || m_closable || ++m_endedTicks < m_graceTicks) {
        return {Action::Wait, 0, Problem::None};
    }
    m_closable = true;
    return {Action::InstallerGone, 0,
            status == ReadStatus::Missing ? Problem::NoResult : Problem::UnreadableResult};
}

bool RunState::BeginFetch() {
    if (m_phase != Phase::Armed || !m_dialogAlive) return false;
    m_phase = Phase::Fetching;
    return true;
}

bool RunState::Cancel() {
    if (m_phase != Phase::Armed && m_phase != Phase::Fetching) return false;
    m_phase = Phase::Ended;
    return true;
}

bool RunState::FetchDone(bool ready) {
    if (m_phase != Phase::Fetching) return false;
    if (!m_dialogAlive) {
        m_phase = Phase::Ended;
        return false;
    }
    m_phase = ready ? Phase::Ready : Phase::Failed;
    return true;
}

RunState::Notice RunState::TakeNotice(std::uint64_t token) {
    if (token != m_token || !m_dialogAlive) return Notice::Ignore;
    if (m_phase == Phase::Ready) {
        m_phase = Phase::Starting;
        return Notice::StartInstaller;
    }
    if (m_phase == Phase::Failed) {
        m_phase = Phase::Ended;
        return Notice::ShowFailure;
    }
    return Notice::Ignore;
}

void RunState::InstallerStarted(bool started) {
    if (m_phase == Phase::Starting) m_phase = started ? Phase::Installing : Phase::Ended;
}

bool RunState::DialogGone() {
    m_dialogAlive = false;
    if (m_phase != Phase::Ready) return false;
    m_phase = Phase::Ended;
    return true;
}

}  // namespace trv
