#include "update/update_flow.h"

#include <gtest/gtest.h>

#include "platform/fake/update_fake.h"

namespace trv {
namespace {

constexpr char kHost[] = "updates.test:8080";
const std::string kVerUrl = "http://updates.test:8080/client/ver.ini";
const std::string kSetupUrl = "http://updates.test:8080/client/setup.exe";
const std::string kLocalVer = "C:\\Program Files\\TARVOSK\\ver.ini";
const std::string kServerVer = "C:\\Temp\\_ver.ini";

class VersionCheckTest : public ::testing::Test {
protected:
    CheckResult Run() {
        UpdatePaths paths;
        MakeUpdatePaths(sys, paths);
        return RunVersionCheck(sys, paths, UpdateUrl(kHost, kVersionFileUrlPath));
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
    EXPECT_EQ(paths.setupFile, "C:\\Users\\u\\Temp\\setup.exe");
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
    sys.server[kVerUrl].fails = true;
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

TEST(InstallerDownload, ClearsOldInstallerAndResultBeforeFetching) {
    FakeUpdateSystem sys;
    UpdatePaths paths;
    ASSERT_TRUE(MakeUpdatePaths(sys, paths));
    sys.files[paths.setupFile] = "old installer";
    sys.files[paths.resultFile] = "0";
    sys.server[kSetupUrl].fails = true;

    EXPECT_FALSE(DownloadInstaller(sys, paths, kSetupUrl));
    ASSERT_EQ(sys.calls.size(), 3u);
    EXPECT_EQ(sys.calls[0], "remove C:\\Temp\\setup.exe");
    EXPECT_EQ(sys.calls[1], "remove C:\\Temp\\install_result");
    EXPECT_EQ(sys.calls[2], "download " + kSetupUrl + " -> C:\\Temp\\setup.exe");
    EXPECT_FALSE(sys.FileExists(paths.resultFile));

    sys.server[kSetupUrl] = {false, true, "MZ new"};
    EXPECT_TRUE(DownloadInstaller(sys, paths, kSetupUrl));
    EXPECT_EQ(sys.files[paths.setupFile], "MZ new");
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

TEST(InstallWatchTicks, UnreadableResultIsTriedAgain) {
    InstallWatch watch(1);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(watch.Tick(ReadStatus::Unreadable, "", true).action,
                  InstallWatch::Action::Wait);
    }
    EXPECT_FALSE(watch.Closable());
    const InstallWatch::Step step = watch.Tick(ReadStatus::Ok, "0", true);
    EXPECT_EQ(step.action, InstallWatch::Action::Finish);
    EXPECT_EQ(step.param, 1u);
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

}  // namespace
}  // namespace trv
