// The install/update check's decisions, free of windows: the update URLs,
// the version text comparison, what initialisation ends with, the bounds on
// a fetch, the installer's own folder, the progress line, the installer's
// result and the wait for it, and what one run has got to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/update_platform.h"

namespace trv {

constexpr char kVersionFileUrlPath[] = "/client/ver.ini";
constexpr char kSetupFileUrlPath[] = "/client/setup.exe";

constexpr char kLocalVersionName[] = "ver.ini";
constexpr char kServerVersionName[] = "_ver.ini";
constexpr char kSetupName[] = "setup.exe";
constexpr char kResultName[] = "install_result";
// Each run's installer goes into a new folder of this name and 16 hex digits.
constexpr char kRunFolderPrefix[] = "TRVSetup-";

// Only this much of a version file counts; the rest is never read.
constexpr std::size_t kVersionTextMax = 100;
// Only this much of the installer's result file is read.
constexpr std::size_t kResultHeadMax = 2;

// The bounds on the two fetches. The version file is fetched on the
// browser's thread before the dialog shows; more than a megabyte of it is
// no version file. The installer's cap is a build setting.
constexpr std::uint32_t kVersionStallMs = 30000;
constexpr std::uint32_t kVersionMaxBytes = 1u << 20;
// A version file trickled in a byte at a time still ends a minute after its
// request: the browser's thread waits for it.
constexpr std::uint32_t kVersionTotalMs = 60000;
constexpr std::uint32_t kInstallerStallMs = 60000;
// The installer's whole download must go at least this fast on average
// (64 KiB/s, about half a megabit), plus a minute to connect: the cap of
// 256 MiB gets 69 minutes.
constexpr std::uint32_t kInstallerMinBytesPerSecond = 64 * 1024;
constexpr std::uint32_t kInstallerDeadlineBaseMs = 60000;
// The installer's total deadline for a size cap: the base plus the cap at
// the minimum rate, rounded up. Fits 32 bits for every cap up to 4 GiB.
std::uint32_t InstallerDeadlineMs(std::uint32_t maxBytes);

// The update server's base, "host[:port]" (plain HTTP) or
// "http://host[:port]" / "https://host[:port]", joined with a path.
std::string UpdateUrl(const std::string& base, const char* path);
// A fetch that began over TLS may be sent on only to another TLS address.
bool RedirectAllowed(const std::string& fromUrl, const std::string& toUrl);

// The text of a version file: its first 100 bytes up to the first NUL.
std::string VersionText(const std::string& head);
bool SameVersion(const std::string& serverHead, const std::string& localHead);

struct UpdatePaths {
    std::string installPath;    // ends in a backslash
    std::string tempPath;       // as the system gives it
    std::string localVerFile;   // installed version file
    std::string serverVerFile;  // where the server's copy is fetched to
    std::string resultFile;     // what the installer leaves when done
};

// false when there is no temporary folder: nothing can be fetched then.
bool MakeUpdatePaths(IUpdateSystem& system, UpdatePaths& paths);

enum class CheckOutcome {
    End,          // the dialog ends with endCode before it is shown
    StartUpdate,  // the installer download starts
};
struct CheckResult {
    CheckOutcome outcome;
    int endCode;                  // 1 current, 2 failed; only with End
    DownloadResult versionFetch;  // how the version file's fetch went
};

// Fetches the server's version file and compares it with the installed one.
// Messages go through system.ShowMessage in the order the user sees them.
// A failed fetch still lets an earlier downloaded copy decide, but the
// update never starts once the dialog is ending.
CheckResult RunVersionCheck(IUpdateSystem& system, const UpdatePaths& paths,
                            const std::string& versionUrl, const DownloadLimits& limits);

// "TRVSetup-" and the number as 16 hex digits, with a final backslash.
std::string RunFolderName(std::uint64_t random);
// Makes a new private folder under temp with an unpredictable name. false
// when a few tries found every name taken or the system refused.
bool CreateRunFolder(IUpdateSystem& system, const std::string& temp, std::string& folder);

// What the run's sealed folder was found to hold, from a listing of it.
struct RunFolderEntry {
    std::string name;
    bool directory;
    bool heldInstaller;  // the very file the run holds open (by identity, not by name)
};
enum class FolderVerdict {
    OnlyInstaller,      // setup.exe, the held file, and nothing else
    NotSealed,          // the folder could not be opened, sealed or listed
    InstallerMissing,   // no entry is the held installer
    SomethingElse,      // any other file, folder or link beside it
};
FolderVerdict JudgeRunFolder(const std::vector<RunFolderEntry>& entries);
// For the support log.
const char* FolderVerdictText(FolderVerdict verdict);

enum class FetchOutcome {
    Ok,
    StaleResult,     // an earlier result file cannot be deleted: it would count for this run
    NoRunFolder,     // the run's own folder could not be made
    DownloadFailed,  // see download
    FolderRefused,   // fetched, but its folder could not be sealed or holds more (see folder)
};
struct InstallerFetch {
    FetchOutcome outcome = FetchOutcome::DownloadFailed;
    DownloadResult download;
    // The run's own folder (final backslash). After a failure, set only when
    // it could not be removed (another program keeps something in it): the
    // caller tries again later.
    std::string folder;
    std::string setupFile;  // folder + "setup.exe"; only with Ok
    FolderVerdict folderVerdict = FolderVerdict::OnlyInstaller;  // only with FolderRefused
};
// Clears the previous run's result, then fetches the installer into a folder
// of this run's own, so no other run or program shares the target. A run
// that fails removes its folder.
InstallerFetch FetchInstaller(IUpdateSystem& system, const UpdatePaths& paths,
                              const std::string& setupUrl, const DownloadLimits& limits);

// The bounds of one fetch, fed with its progress and a millisecond clock
// that may wrap.
class TransferWatch {
public:
    TransferWatch(const DownloadLimits& limits, std::uint32_t nowMs)
        : m_limits(limits), m_startMs(nowMs), m_lastByteMs(nowMs) {}
    // false once the body is announced or received beyond the cap.
    bool Progress(std::uint32_t received, std::uint32_t announced, std::uint32_t nowMs);
    // No new byte within the stall bound.
    bool Stalled(std::uint32_t nowMs) const;
    // Ok while the fetch may go on; else Stalled or TimedOut (past the total deadline).
    DownloadOutcome Overdue(std::uint32_t nowMs) const;
    std::uint32_t Received() const { return m_received; }
    std::uint32_t Announced() const { return m_announced; }

private:
    DownloadLimits m_limits;
    std::uint32_t m_startMs;
    std::uint32_t m_lastByteMs;
    std::uint32_t m_received = 0;
    std::uint32_t m_announced = 0;
};

struct ProgressDisplay {
    std::string text;
    int percent;  // 0..100, truncated
};
using SizeFormatter = std::function<std::string(std::uint32_t)>;

// "Downloaded.. <got> of <total>       " with the truncated share, or
// "Downloaded.. <got>" and 0 when the server gave no size.
ProgressDisplay MakeProgressDisplay(std::uint32_t progress, std::uint32_t progressMax,
                                    const SizeFormatter& formatSize);

// The installer's result from the first two bytes of its result file, read as
// a signed decimal number ("-1" is failure); anything else counts as 0.
int ParseInstallResult(const std::string& head);
// An empty file or a lone "-" is a result still being written.
bool ResultComplete(const std::string& head);
// The first parameter of the result message: the result plus one.
std::uintptr_t InstallResultParam(int result);
// End code for that parameter: 2 when it is 0, 1 otherwise.
int EndCodeForInstallResult(std::uintptr_t param);

// Timer 2's decisions while the installer runs.
class InstallWatch {
public:
    // Ticks to wait for a whole result after the installer has ended; an
    // installer may end a moment before its result file shows.
    explicit InstallWatch(int graceTicks) : m_graceTicks(graceTicks) {}

    enum class Action {
        Wait,           // poll again at the next tick
        Finish,         // send the result message with param
        InstallerGone,  // tell the user (problem says what); the dialog may now be closed
    };
    enum class Problem {
        None,
        NoResult,          // the installer left no result file
        UnreadableResult,  // a result that cannot be read, or never became whole
    };
    struct Step {
        Action action;
        std::uintptr_t param;
        Problem problem;
    };

    // status/head: the result file as read at this tick. installerEnded: the
    // installer's process has ended (false when that cannot be known).
    Step Tick(ReadStatus status, const std::string& head, bool installerEnded);

    // Once the installer has gone without a whole result, closing ends with 2.
    bool Closable() const { return m_closable; }

private:
    int m_graceTicks;
    int m_endedTicks = 0;
    bool m_closable = false;
};

// What one update run has got to, as the dialog and its download thread
// share it (the caller locks). The dialog acts on a notice only when it
// carries this run's token and the thread has filled in an outcome, and on
// timer ticks only in their own phase: a message another program posts to
// the dialog changes nothing.
class RunState {
public:
    enum class Phase {
        Armed,       // the update is to start at timer 1
        Fetching,    // the download thread runs
        Ready,       // a verified installer waits to be started
        Failed,      // the thread's failure waits to be shown
        Starting,    // the dialog is starting the installer
        Installing,  // the installer runs; timer 2 polls its result
        Ended,
    };
    enum class Notice { Ignore, StartInstaller, ShowFailure };

    explicit RunState(std::uint32_t token) : m_token(token) {}

    std::uint32_t Token() const { return m_token; }
    Phase Current() const { return m_phase; }
    bool DialogAlive() const { return m_dialogAlive; }

    // Timer 1: the one fetch of this run. false when it is not its turn.
    bool BeginFetch();
    // The user closes the dialog before the fetch has an outcome: the run
    // ends here and the thread's outcome, when it comes, is nobody's. false
    // once the outcome is in (it is about to be acted on) or later.
    bool Cancel();
    // The thread's verdict. false when the dialog has gone: nobody takes
    // the outcome, so the thread cleans up after itself.
    bool FetchDone(bool ready);
    // The dialog's reaction to the thread's notice.
    Notice TakeNotice(std::uint64_t token);
    void InstallerStarted(bool started);
    bool Polling() const { return m_phase == Phase::Installing; }
    // The dialog is being destroyed. true when a verified installer was
    // left waiting: the dialog then disposes of it, nobody else will.
    bool DialogGone();

private:
    std::uint32_t m_token;
    Phase m_phase = Phase::Armed;
    bool m_dialogAlive = true;
};

}  // namespace trv
