// The install/update check's decisions, free of windows: the version text
// comparison, what initialisation ends with, the progress line, the
// installer's result and the wait for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/update_platform.h"

namespace trv {

constexpr char kVersionFileUrlPath[] = "/client/ver.ini";
constexpr char kSetupFileUrlPath[] = "/client/setup.exe";

constexpr char kLocalVersionName[] = "ver.ini";
constexpr char kServerVersionName[] = "_ver.ini";
constexpr char kSetupName[] = "setup.exe";
constexpr char kResultName[] = "install_result";

// Only this much of a version file counts; the rest is never read.
constexpr std::size_t kVersionTextMax = 100;
// Only this much of the installer's result file is read.
constexpr std::size_t kResultHeadMax = 2;

// "http://" + host + path.
std::string UpdateUrl(const std::string& host, const char* path);

// The text of a version file: its first 100 bytes up to the first NUL.
std::string VersionText(const std::string& head);
bool SameVersion(const std::string& serverHead, const std::string& localHead);

struct UpdatePaths {
    std::string installPath;    // ends in a backslash
    std::string tempPath;       // as the system gives it
    std::string localVerFile;   // installed version file
    std::string serverVerFile;  // where the server's copy is fetched to
    std::string setupFile;      // where the installer is fetched to
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
    int endCode;  // 1 current, 2 failed; only with End
};

// Fetches the server's version file and compares it with the installed one.
// Messages go through system.ShowMessage in the order the user sees them.
// A failed fetch still lets an earlier downloaded copy decide, but the
// update never starts once the dialog is ending.
CheckResult RunVersionCheck(IUpdateSystem& system, const UpdatePaths& paths,
                            const std::string& versionUrl);

// Clears the previous run's installer and result, so an old result is never
// taken for the new one, then fetches the installer. false when it failed.
bool DownloadInstaller(IUpdateSystem& system, const UpdatePaths& paths,
                       const std::string& setupUrl);

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
// The first parameter of the result message: the result plus one.
std::uintptr_t InstallResultParam(int result);
// End code for that parameter: 2 when it is 0, 1 otherwise.
int EndCodeForInstallResult(std::uintptr_t param);

// Timer 2's decisions while the installer runs.
class InstallWatch {
public:
    // Ticks to wait for a result after the installer has ended; an installer
    // may end a moment before its result file shows.
    explicit InstallWatch(int graceTicks) : m_graceTicks(graceTicks) {}

    enum class Action {
        Wait,           // poll again at the next tick
        Finish,         // send the result message with param
        InstallerGone,  // tell the user; the dialog may now be closed
    };
    struct Step {
        Action action;
        std::uintptr_t param;
    };

    // status/head: the result file as read at this tick. installerEnded: the
    // installer's process has ended (false when that cannot be known).
    Step Tick(ReadStatus status, const std::string& head, bool installerEnded);

    // Once the installer has gone without a result, closing ends with 2.
    bool Closable() const { return m_closable; }

private:
    int m_graceTicks;
    int m_endedTicks = 0;
    bool m_closable = false;
};

}  // namespace trv
