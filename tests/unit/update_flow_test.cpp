#include "update/update_flow.h"

#include <gtest/gtest.h>

#include <tuple>

#include "platform/fake/update_fake.h"

namespace trv {
namespace {

constexpr char kHost[] = "updates.test:8080";
const std::string kVerUrl = "http://updates.test:8080/client/ver.ini";
const std::string kSetupUrl = "http://updates.test:8080/client/setup.exe";
const std::string kLocalVer = "C:\\Program Files\\TARVOSK\\ver.ini";
const std::string kServerVer = "C:\\Temp\\_ver.ini";
constexpr DownloadLimits kVersionLimits{30000, 1u << 20};

class VersionCheckTest : public ::testing::Test {
protected:
    CheckResult Run() {
        UpdatePaths paths;
        MakeUpdatePaths(sys, paths);
        return RunVersionCheck(sys, paths, UpdateUrl(kHost, kVersionFileUrlPath), kVersionLimits);
    }
    void Serve(const std::string& body) { sys.server[kVerUrl].body = body; }
    void Install(const std::string& body) { sys.files[kLocalVer] = body; }

    FakeUpdateSystem sys;
};

TEST_F(VersionCheckTest, PathsAndUrlFollowTheInstallRule) {
    sys.programFiles = "D:/Apps";
    sys.tempFolder = "C:\\Users\\u\\Temp\\";
    UpdatePaths paths;
    ASSERT_TRUE(MakeUpdatePaths(sys, paths));
    EXPECT_EQ(paths.installPath, "D:\\Apps\\TARVOSK\\");
    EXPECT_EQ(paths.localVerFile, "D:\\Apps\\TARVOSK\\ver.ini");
    EXPECT_EQ(paths.serverVerFile, "C:\\Users\\u\\Temp\\_ver.ini");
    EXPECT_EQ(paths.resultFile, "C:\\Users\\u\\Temp\\install_result");
    EXPECT_EQ(UpdateUrl(kHost, kVersionFileUrlPath), kVerUrl);
    EXPECT_EQ(UpdateUrl(kHost, kSetupFileUrlPath), kSetupUrl);

    sys.programFiles.clear();
    ASSERT_TRUE(MakeUpdatePaths(sys, paths));
    EXPECT_EQ(paths.localVerFile, "C:\\Program Files\\TARVOSK\\ver.ini");
}

TEST_F(VersionCheckTest, EqualTextsEndWithOneWithoutMessages) {
    Serve("1.0.3\r\n");
    Install("1.0.3\r\n");
    const CheckResult r = Run();
    EXPECT_EQ(r.outcome, CheckOutcome::End);
    EXPECT_EQ(r.endCode, 1);
    EXPECT_TRUE(sys.messages.empty());
    EXPECT_EQ(sys.calls.front(), "download " + kVerUrl + " -> " + kServerVer);
    ASSERT_EQ(sys.limitsSeen.size(), 1u);
    EXPECT_EQ(sys.limitsSeen[0].stallMs, kVersionLimits.stallMs);
    EXPECT_EQ(sys.limitsSeen[0].maxBytes, kVersionLimits.maxBytes);
}

TEST(UpdateUrls, APlainHostIsHttpAndASchemeIsKept) {
    const std::pair<const char*, const char*> cases[] = {
        {"updates.test:8080", "http://updates.test:8080/client/ver.ini"},
        {"http://updates.test", "http://updates.test/client/ver.ini"},
        {"https://updates.test:8443", "https://updates.test:8443/client/ver.ini"},
        {"HTTPS://updates.test/", "https://updates.test/client/ver.ini"},
    };
    for (const auto& [base, url] : cases) EXPECT_EQ(UpdateUrl(base, kVersionFileUrlPath), url) << base;
}

TEST(UpdateUrls, AFetchOverTlsIsNeverSentOnToAPlainAddress) {
    struct Case {
        const char* from;
        const char* to;
        bool allowed;
    };
    const Case cases[] = {
        {"https://a.test/client/setup.exe", "https://b.test/setup.exe", true},
        {"https://a.test/client/setup.exe", "http://a.test/client/setup.exe", false},
        {"https://a.test/client/setup.exe", "HTTP://a.test/x", false},
        {"https://a.test/client/setup.exe", "//evil.test/x", false},
        {"http://a.test/client/setup.exe", "http://b.test/x", true},
        {"http://a.test/client/setup.exe", "https://b.test/x", true},
    };
    for (const Case& c : cases) EXPECT_EQ(RedirectAllowed(c.from, c.to), c.allowed) << c.to;
}

TEST_F(VersionCheckTest, OnlyTheFirstHundredBytesUpToANulCount) {
    const std::string hundred(100, 'v');
    Serve(hundred + "server tail");
    Install(hundred + "a different installed tail");
    EXPECT_EQ(Run().endCode, 1);

    sys.messages.clear();
    Serve(std::string("2.0\0server", 10));
    Install(std::string("2.0\0installed", 13));
    EXPECT_EQ(Run().endCode, 1);

    // The 100th byte itself still counts.
    Serve(std::string(99, 'v') + "a");
    Install(std::string(99, 'v') + "b");
    EXPECT_EQ(Run().outcome, CheckOutcome::StartUpdate);
}

TEST_F(VersionCheckTest, BothEmptyAreEqual) {
    Serve("");
    Install("");
    const CheckResult r = Run();
    EXPECT_EQ(r.outcome, CheckOutcome::End);
    EXPECT_EQ(r.endCode, 1);
}

TEST_F(VersionCheckTest, AnyDifferenceStartsTheUpdate) {
    const std::pair<const char*, const char*> cases[] = {
        {"1.0.4", "1.0.3"},        // newer on the server
        {"1.0.2", "1.0.3"},        // older on the server
        {"", "1.0.3"},             // empty server copy
        {"1.0.3", ""},             // empty installed copy
        {"1.0.3\r\n", "1.0.3\n"},  // line ends count
        {"V1", "v1"},              // case counts
        {"1.0.3 ", "1.0.3"},       // blanks count
    };
    for (const auto& c : cases) {
        Serve(c.first);
        Install(c.second);
        const CheckResult r = Run();
        EXPECT_EQ(r.outcome, CheckOutcome::StartUpdate) << c.first << " vs " << c.second;
    }
    EXPECT_TRUE(sys.messages.empty());
}

TEST_F(VersionCheckTest, NoInstalledOrUnreadableInstalledCopyStartsTheUpdate) {
    Serve("1.0");
    EXPECT_EQ(Run().outcome, CheckOutcome::StartUpdate);

    sys.unreadable.insert(kLocalVer);
    EXPECT_EQ(Run().outcome, CheckOutcome::StartUpdate);
    EXPECT_TRUE(sys.messages.empty());
}

TEST_F(VersionCheckTest, ServerDownWithoutEarlierCopyShowsBothMessagesInOrder) {
    Install("1.0");
    const CheckResult r = Run();
    EXPECT_EQ(r.outcome, CheckOutcome::End);
    EXPECT_EQ(r.endCode, 2);
    ASSERT_EQ(sys.messages.size(), 2u);
    EXPECT_EQ(sys.messages[0], UpdateMessage::DownloadFailed);
    EXPECT_EQ(sys.messages[1], UpdateMessage::ServerVersionUnreadable);
}

TEST_F(VersionCheckTest, FailedFetchLetsAnEarlierCopyDecideButNeverStartsTheUpdate) {
    sys.server[kVerUrl].outcome = DownloadOutcome::TransportFailed;
    sys.files[kServerVer] = "1.0";

    Install("1.0");
    CheckResult r = Run();
    EXPECT_EQ(r.outcome, CheckOutcome::End);
    EXPECT_EQ(r.endCode, 1);
    ASSERT_EQ(sys.messages.size(), 1u);
    EXPECT_EQ(sys.messages[0], UpdateMessage::DownloadFailed);

    sys.messages.clear();
    Install("0.9");
    r = Run();
    EXPECT_EQ(r.outcome, CheckOutcome::End);
    EXPECT_EQ(r.endCode, 2);
    EXPECT_EQ(sys.messages.size(), 1u);

    sys.messages.clear();
    sys.files.erase(kLocalVer);
    r = Run();
    EXPECT_EQ(r.outcome, CheckOutcome::End);
    EXPECT_EQ(r.endCode, 2);
}

TEST_F(VersionCheckTest, MissingOrUnreadableServerCopyEndsWithTwo) {
    Install("1.0");
    sys.server[kVerUrl].writes = false;
    CheckResult r = Run();
    EXPECT_EQ(r.endCode, 2);
    ASSERT_EQ(sys.messages.size(), 1u);
    EXPECT_EQ(sys.messages[0], UpdateMessage::ServerVersionUnreadable);

    sys.messages.clear();
    sys.unreadable.insert(kServerVer);
    r = Run();
    EXPECT_EQ(r.outcome, CheckOutcome::End);
    EXPECT_EQ(r.endCode, 2);
    ASSERT_EQ(sys.messages.size(), 1u);
    EXPECT_EQ(sys.messages[0], UpdateMessage::ServerVersionUnreadable);
}

TEST_F(VersionCheckTest, NoTemporaryFolderFailsWithoutFetching) {
    sys.hasTempFolder = false;
    Serve("1.0");
    Install("1.0");
    const CheckResult r = Run();
    EXPECT_EQ(r.endCode, 2);
    ASSERT_EQ(sys.messages.size(), 1u);
    EXPECT_EQ(sys.messages[0], UpdateMessage::DownloadFailed);
    for (const auto& call : sys.calls) EXPECT_EQ(call.rfind("download", 0), std::string::npos);
}

// Each run fetches into a new folder of its own; the previous result goes first.
class InstallerFetchTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(MakeUpdatePaths(sys, paths));
        sys.server[kSetupUrl].body = "MZ new";
    }
    InstallerFetch Fetch() { return FetchInstaller(sys, paths, kSetupUrl, kInstallerLimits); }

    static constexpr DownloadLimits kInstallerLimits{60000, 256u << 20};
    const std::string kFolder = "C:\\Temp\\TRVSetup-00000000000000a1\\";
    FakeUpdateSystem sys;
    UpdatePaths paths;
};

TEST_F(InstallerFetchTest, TheInstallerLandsInANewFolderOnlyAfterTheOldResultIsGone) {
    sys.files[paths.resultFile] = "0";
    sys.randoms = {0xa1};
    const InstallerFetch fetch = Fetch();
    ASSERT_EQ(fetch.outcome, FetchOutcome::Ok);
    EXPECT_EQ(fetch.folder, kFolder);
    EXPECT_EQ(fetch.setupFile, kFolder + "setup.exe");
    EXPECT_EQ(sys.files[fetch.setupFile], "MZ new");
    EXPECT_FALSE(sys.FileExists(paths.resultFile));
    const std::vector<std::string> expected = {
        "remove C:\\Temp\\install_result",
        "mkdir " + kFolder,
        "download " + kSetupUrl + " -> " + kFolder + "setup.exe",
    };
    EXPECT_EQ(sys.calls, expected);
    ASSERT_EQ(sys.limitsSeen.size(), 1u);
    EXPECT_EQ(sys.limitsSeen[0].maxBytes, kInstallerLimits.maxBytes);
}

TEST_F(InstallerFetchTest, TakenNamesAreNeverReusedAndTwoRunsNeverShareAFolder) {
    // Someone already made the first name (by chance or by guessing it).
    sys.folders.insert("C:\\Temp\\TRVSetup-00000000000000a1\\");
    sys.randoms = {0xa1, 0xb2, 0xb2, 0xc3};
    const InstallerFetch first = Fetch();
    const InstallerFetch second = Fetch();
    ASSERT_EQ(first.outcome, FetchOutcome::Ok);
    ASSERT_EQ(second.outcome, FetchOutcome::Ok);
    EXPECT_EQ(first.folder, "C:\\Temp\\TRVSetup-00000000000000b2\\");
    EXPECT_EQ(second.folder, "C:\\Temp\\TRVSetup-00000000000000c3\\");
    EXPECT_EQ(RunFolderName(0x0123456789abcdefull), "TRVSetup-0123456789abcdef\\");
}

TEST_F(InstallerFetchTest, EachFailureIsReportedAndLeavesNoFolder) {
    struct Case {
        const char* name;
        bool resultUndeletable;
        bool foldersRefused;
        DownloadOutcome download;
        FetchOutcome expected;
        bool fetched;
    };
    const Case cases[] = {
        {"stale result cannot be deleted", true, false, DownloadOutcome::Ok,
         FetchOutcome::StaleResult, false},
        {"no folder can be made", false, true, DownloadOutcome::Ok, FetchOutcome::NoRunFolder,
         false},
        {"stalled", false, false, DownloadOutcome::Stalled, FetchOutcome::DownloadFailed, true},
        {"too large", false, false, DownloadOutcome::TooLarge, FetchOutcome::DownloadFailed, true},
        {"untrusted certificate", false, false, DownloadOutcome::TransportFailed,
         FetchOutcome::DownloadFailed, true},
    };
    const std::string made = "C:\\Temp\\TRVSetup-0000000000000000\\";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeUpdateSystem fresh;
        sys = fresh;
        sys.files[paths.resultFile] = "0";
        if (c.resultUndeletable) sys.undeletable.insert(paths.resultFile);
        sys.foldersRefused = c.foldersRefused;
        sys.server[kSetupUrl].outcome = c.download;
        const InstallerFetch fetch = Fetch();
        EXPECT_EQ(fetch.outcome, c.expected);
        if (c.fetched) {
            EXPECT_EQ(fetch.download.outcome, c.download);
        }
        EXPECT_TRUE(fetch.folder.empty());
        EXPECT_TRUE(fetch.setupFile.empty());
        EXPECT_TRUE(sys.folders.empty());
        EXPECT_EQ(sys.limitsSeen.size(), c.fetched ? 1u : 0u);

        // Another program keeps something in the folder: it is handed back
        // to be removed later.
        if (!c.fetched) continue;
        sys.foldersStick = true;
        const InstallerFetch stuck = Fetch();
        EXPECT_EQ(stuck.outcome, FetchOutcome::DownloadFailed);
        EXPECT_EQ(stuck.folder, made);
        EXPECT_TRUE(stuck.setupFile.empty());
    }
}

// The bounds on one fetch against a millisecond clock.
TEST(TransferBounds, StallAndSizeCap) {
    const DownloadLimits limits{1000, 5000};
    struct Step {
        std::uint32_t now;
        std::uint32_t received;  // kNoCall: only the clock moves
        std::uint32_t announced;
        bool withinCap;
        bool stalled;
    };
    constexpr std::uint32_t kNoCall = 0xFFFFFFFFu;
    const std::uint32_t start = 0xFFFFFE00u;  // the clock wraps during the run
    const Step steps[] = {
        {start + 500, kNoCall, 0, true, false},
        {start + 900, 0, 0, true, false},       // a status report: no byte yet
        {start + 1000, kNoCall, 0, true, true},  // nothing for the whole bound
        {start + 1200, 10, 0, true, false},     // a byte resets it, across the wrap
        {start + 2100, 10, 0, true, false},     // the same count again is no byte
        {start + 2200, kNoCall, 0, true, true},
        {start + 2300, 5000, 0, true, false},   // exactly the cap is allowed
        {start + 2400, 5001, 0, false, false},  // one byte more is not
    };
    TransferWatch watch(limits, start);
    for (const Step& s : steps) {
        SCOPED_TRACE(s.now - start);
        if (s.received != kNoCall) {
            EXPECT_EQ(watch.Progress(s.received, s.announced, s.now), s.withinCap);
        }
        EXPECT_EQ(watch.Stalled(s.now), s.stalled);
    }
    // A size announced beyond the cap fails before any byte.
    TransferWatch announced(limits, 0);
    EXPECT_FALSE(announced.Progress(0, 5001, 10));
    EXPECT_TRUE(announced.Progress(0, 5000, 10));
}

// A byte every 100 ms never stalls; the deadline from the request still
// ends the fetch, across the clock's wrap. 0 means no deadline.
TEST(TransferBounds, TotalDeadlineEndsATrickle) {
    const std::uint32_t t0 = 0xFFFFFF00u;
    const std::tuple<std::uint32_t, std::uint32_t, DownloadOutcome> cases[] = {
        {3000, 2999, DownloadOutcome::Ok}, {3000, 3000, DownloadOutcome::TimedOut},
        {3000, 90000, DownloadOutcome::TimedOut}, {0, 90000, DownloadOutcome::Ok}};
    for (const auto& [totalMs, at, expected] : cases) {
        TransferWatch watch({1000, 5000, totalMs}, t0);
        for (std::uint32_t t = 100; t + 100 <= at; t += 100) watch.Progress(t / 100, 0, t0 + t);
        EXPECT_EQ(watch.Overdue(t0 + at), expected) << totalMs << " " << at;
    }
    EXPECT_EQ(TransferWatch({1000, 5000, 3000}, t0).Overdue(t0 + 1000), DownloadOutcome::Stalled);
    // The installer's: a minute plus the cap at 64 KiB/s, rounded up, never overflowing.
    EXPECT_EQ(InstallerDeadlineMs(1), 60001u);
    EXPECT_EQ(InstallerDeadlineMs(0xFFFFFFFFu), 60000u + 65536000u);
}

// Only the held installer may be in the sealed folder: not beside a DLL or
// a folder, not twice, not under another name, not a file with only its name.
TEST(RunFolderVerdict, OnlyTheHeldInstallerPasses) {
    const RunFolderEntry dot{".", true, false}, setup{"setup.exe", false, true};
    const std::pair<std::vector<RunFolderEntry>, FolderVerdict> cases[] = {
        {{dot, {"..", true, false}, setup}, FolderVerdict::OnlyInstaller},
        {{{"version.dll", false, false}, setup}, FolderVerdict::SomethingElse},
        {{setup, {"sub", true, false}}, FolderVerdict::SomethingElse},
        {{setup, {"other.exe", false, true}}, FolderVerdict::SomethingElse},
        {{{"SETUP.EXE", false, true}}, FolderVerdict::SomethingElse},
        {{{"setup.exe", false, false}}, FolderVerdict::SomethingElse},
        {{dot}, FolderVerdict::InstallerMissing},
    };
    int row = 0;
    for (const auto& [entries, expected] : cases) EXPECT_EQ(JudgeRunFolder(entries), expected) << row++;
}

std::string Bytes(std::uint32_t n) { return std::to_string(n) + " B"; }

TEST(ProgressLine, WithSizeShowsBothAndTruncatesTheShare) {
    ProgressDisplay d = MakeProgressDisplay(999, 1000, Bytes);
    EXPECT_EQ(d.text, "Downloaded.. 999 B of 1000 B       ");
    EXPECT_EQ(d.percent, 99);

    EXPECT_EQ(MakeProgressDisplay(0, 1000, Bytes).percent, 0);
    EXPECT_EQ(MakeProgressDisplay(1, 3, Bytes).percent, 33);
    EXPECT_EQ(MakeProgressDisplay(2, 3, Bytes).percent, 66);
    EXPECT_EQ(MakeProgressDisplay(1000, 1000, Bytes).percent, 100);
}

TEST(ProgressLine, LargeCountsDoNotOverflow) {
    // 32-bit products would wrap; the share is taken in floating point.
    EXPECT_EQ(MakeProgressDisplay(0xFFFFFFFEu, 0xFFFFFFFFu, Bytes).percent, 99);
    EXPECT_EQ(MakeProgressDisplay(0x80000000u, 0xFFFFFFFFu, Bytes).percent, 50);
    EXPECT_EQ(MakeProgressDisplay(0xFFFFFFFFu, 0xFFFFFFFFu, Bytes).percent, 100);
    // More than announced keeps the bar at its end.
    EXPECT_EQ(MakeProgressDisplay(1500, 1000, Bytes).percent, 100);
}

TEST(ProgressLine, WithoutSizeShowsOnlyTheReceivedBytes) {
    ProgressDisplay d = MakeProgressDisplay(12345, 0, Bytes);
    EXPECT_EQ(d.text, "Downloaded.. 12345 B");
    EXPECT_EQ(d.percent, 0);
    EXPECT_EQ(d.text.find(" of "), std::string::npos);
}

TEST(ProgressLine, StaysWithinItsBuffer) {
    const std::string huge(400, 'x');
    ProgressDisplay d = MakeProgressDisplay(1, 2, [&](std::uint32_t) { return huge; });
    EXPECT_EQ(d.text.size(), 255u);
}

TEST(InstallResult, FirstTwoBytesAsSignedDecimal) {
    EXPECT_EQ(ParseInstallResult("-1"), -1);
    EXPECT_EQ(ParseInstallResult("-12"), -1);  // only two bytes are read
    EXPECT_EQ(ParseInstallResult("0"), 0);
    EXPECT_EQ(ParseInstallResult("0\r\n"), 0);
    EXPECT_EQ(ParseInstallResult("12"), 12);
    EXPECT_EQ(ParseInstallResult("7x"), 7);
    EXPECT_EQ(ParseInstallResult(""), 0);
    EXPECT_EQ(ParseInstallResult("-"), 0);
    EXPECT_EQ(ParseInstallResult("ok"), 0);
    EXPECT_EQ(ParseInstallResult(std::string("\0\0", 2)), 0);
}

TEST(InstallResult, AnEmptyFileOrALoneMinusIsNotWholeYet) {
    const std::pair<std::string, bool> cases[] = {
        {"", false}, {"-", false}, {"-1", true}, {"0", true}, {"7", true}, {"-x", true},
        {std::string("\0", 1), true},
    };
    for (const auto& [head, whole] : cases) EXPECT_EQ(ResultComplete(head), whole) << head;
}

TEST(InstallResult, OnlyMinusOneEndsWithTwo) {
    EXPECT_EQ(InstallResultParam(-1), 0u);
    EXPECT_EQ(EndCodeForInstallResult(InstallResultParam(-1)), 2);
    EXPECT_EQ(EndCodeForInstallResult(InstallResultParam(0)), 1);
    EXPECT_EQ(EndCodeForInstallResult(InstallResultParam(5)), 1);
    EXPECT_EQ(EndCodeForInstallResult(InstallResultParam(-9)), 1);  // param wraps, nonzero
    EXPECT_EQ(EndCodeForInstallResult(0), 2);
    EXPECT_EQ(EndCodeForInstallResult(1), 1);
    EXPECT_EQ(EndCodeForInstallResult(42), 1);
}

TEST(InstallWatchTicks, WaitsWithoutLimitWhileTheInstallerRuns) {
    InstallWatch watch(3);
    for (int i = 0; i < 1000; ++i) {
        EXPECT_EQ(watch.Tick(ReadStatus::Missing, "", false).action, InstallWatch::Action::Wait);
    }
    EXPECT_FALSE(watch.Closable());
    const InstallWatch::Step step = watch.Tick(ReadStatus::Ok, "-1", false);
    EXPECT_EQ(step.action, InstallWatch::Action::Finish);
    EXPECT_EQ(step.param, 0u);
}

TEST(InstallWatchTicks, ResultsNotWholeOrReadableWaitForTheGraceThenLetTheUserClose) {
    struct Case {
        ReadStatus status;
        const char* head;
        InstallWatch::Problem problem;
    };
    const Case cases[] = {
        {ReadStatus::Missing, "", InstallWatch::Problem::NoResult},
        {ReadStatus::Unreadable, "", InstallWatch::Problem::UnreadableResult},  // a folder, locked
        {ReadStatus::Ok, "", InstallWatch::Problem::UnreadableResult},          // still empty
        {ReadStatus::Ok, "-", InstallWatch::Problem::UnreadableResult},         // half written
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.head);
        InstallWatch watch(3);
        // However long the installer runs, an incomplete result never counts.
        for (int i = 0; i < 50; ++i) {
            EXPECT_EQ(watch.Tick(c.status, c.head, false).action, InstallWatch::Action::Wait);
        }
        EXPECT_EQ(watch.Tick(c.status, c.head, true).action, InstallWatch::Action::Wait);
        EXPECT_EQ(watch.Tick(c.status, c.head, true).action, InstallWatch::Action::Wait);
        EXPECT_FALSE(watch.Closable());
        const InstallWatch::Step gone = watch.Tick(c.status, c.head, true);
        EXPECT_EQ(gone.action, InstallWatch::Action::InstallerGone);
        EXPECT_EQ(gone.problem, c.problem);
        EXPECT_TRUE(watch.Closable());
    }
}

TEST(InstallWatchTicks, AResultWrittenInTwoStepsCountsOnlyWhenWhole) {
    InstallWatch watch(3);
    EXPECT_EQ(watch.Tick(ReadStatus::Ok, "-", false).action, InstallWatch::Action::Wait);
    EXPECT_EQ(watch.Tick(ReadStatus::Ok, "-", true).action, InstallWatch::Action::Wait);
    const InstallWatch::Step step = watch.Tick(ReadStatus::Ok, "-1", true);
    EXPECT_EQ(step.action, InstallWatch::Action::Finish);
    EXPECT_EQ(EndCodeForInstallResult(step.param), 2);
}

TEST(InstallWatchTicks, EndedInstallerWithoutResultBecomesClosableAfterGrace) {
    InstallWatch watch(3);
    EXPECT_EQ(watch.Tick(ReadStatus::Missing, "", true).action, InstallWatch::Action::Wait);
    EXPECT_EQ(watch.Tick(ReadStatus::Missing, "", true).action, InstallWatch::Action::Wait);
    EXPECT_FALSE(watch.Closable());
    EXPECT_EQ(watch.Tick(ReadStatus::Missing, "", true).action,
              InstallWatch::Action::InstallerGone);
    EXPECT_TRUE(watch.Closable());
    // Told once; a late result still ends the run normally.
    EXPECT_EQ(watch.Tick(ReadStatus::Missing, "", true).action, InstallWatch::Action::Wait);
    const InstallWatch::Step step = watch.Tick(ReadStatus::Ok, "0", true);
    EXPECT_EQ(step.action, InstallWatch::Action::Finish);
    EXPECT_EQ(step.param, 1u);
}

// The dialog acts on what its own run's thread filled in, in turn, once.
TEST(RunStates, OnlyTheRunsOwnOutcomeInItsTurnMovesTheDialog) {
    using Phase = RunState::Phase;
    using Notice = RunState::Notice;
    RunState run(0x5eed);
    // Posted before the thread reported, or with another token: nothing.
    EXPECT_EQ(run.TakeNotice(0x5eed), Notice::Ignore);
    EXPECT_FALSE(run.Polling());
    EXPECT_TRUE(run.BeginFetch());
    EXPECT_FALSE(run.BeginFetch()) << "a second timer 1 starts no second download";
    EXPECT_EQ(run.TakeNotice(0x5eed), Notice::Ignore);
    EXPECT_TRUE(run.FetchDone(true));
    EXPECT_EQ(run.TakeNotice(0x5eee), Notice::Ignore);
    EXPECT_EQ(run.TakeNotice(0x1000000005eedull), Notice::Ignore);
    EXPECT_FALSE(run.Polling()) << "timer 2 does nothing before the installer runs";
    EXPECT_EQ(run.TakeNotice(0x5eed), Notice::StartInstaller);
    EXPECT_EQ(run.TakeNotice(0x5eed), Notice::Ignore) << "the installer starts once";
    run.InstallerStarted(true);
    EXPECT_TRUE(run.Polling());
    EXPECT_EQ(run.Current(), Phase::Installing);
    EXPECT_FALSE(run.DialogGone());

    RunState failed(7);
    ASSERT_TRUE(failed.BeginFetch());
    EXPECT_TRUE(failed.FetchDone(false));
    EXPECT_EQ(failed.TakeNotice(7), Notice::ShowFailure);
    EXPECT_EQ(failed.TakeNotice(7), Notice::Ignore);
    failed.InstallerStarted(true);
    EXPECT_FALSE(failed.Polling());
}

TEST(RunStates, ADialogThatHasGoneIsNeverToldAndItsInstallerIsDisposedOf) {
    // Gone while the thread fetches: the thread learns it must clean up.
    RunState fetching(1);
    ASSERT_TRUE(fetching.BeginFetch());
    EXPECT_FALSE(fetching.DialogGone());
    EXPECT_FALSE(fetching.DialogAlive());
    EXPECT_FALSE(fetching.FetchDone(true));
    EXPECT_EQ(fetching.TakeNotice(1), RunState::Notice::Ignore);

    // Gone with a verified installer left untaken: the dialog disposes of it.
    RunState ready(2);
    ASSERT_TRUE(ready.BeginFetch());
    ASSERT_TRUE(ready.FetchDone(true));
    EXPECT_TRUE(ready.DialogGone());
    EXPECT_EQ(ready.TakeNotice(2), RunState::Notice::Ignore);

    RunState armed(3);
    EXPECT_FALSE(armed.DialogGone());
    EXPECT_FALSE(armed.BeginFetch());
}

// Closing before or during the fetch ends the run, and the thread's outcome
// is nobody's; once the outcome is in, it is acted on as before.
TEST(RunStates, ClosingEndsTheRunOnlyUntilTheFetchHasAnOutcome) {
    RunState armed(1), fetching(2), done(3);
    EXPECT_TRUE(armed.Cancel());
    EXPECT_FALSE(armed.BeginFetch()) << "no download starts after the close";
    ASSERT_TRUE(fetching.BeginFetch());
    EXPECT_TRUE(fetching.Cancel());
    EXPECT_FALSE(fetching.FetchDone(true)) << "the thread disposes of what it fetched";
    ASSERT_TRUE(done.BeginFetch() && done.FetchDone(true));
    EXPECT_FALSE(done.Cancel());
    EXPECT_EQ(done.TakeNotice(3), RunState::Notice::StartInstaller);
}

}  // namespace
}  // namespace trv
