// The control object's core against the fake system: paths, the client gate,
// the job lists and every step of the hand-off.
#include "control/webbbs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <thread>

#include "control/credentials.h"
#include "control/job_list.h"
#include "testbed/job_reader.h"
#include "platform/fake/fake_platform.h"
#include "platform/fake/support_log_fake.h"
#include "platform/support_log.h"

namespace trv {
namespace {

const std::string kUpProgram = "C:\\Program Files\\TARVOSK\\TARVOSKUp.exe";
const std::string kDownProgram = "C:\\Program Files\\TARVOSK\\TARVOSKDown.exe";
const std::string kUpList = "C:\\Temp\\TARVOSK_Upload_List";
const std::string kDownList = "C:\\Temp\\TARVOSK_Download_List";

class WebBBSTest : public ::testing::Test {
protected:
    void SetUp() override { ResetCredentials(); }
    void TearDown() override { ResetCredentials(); }

    // Registers a client program whose window shows after `looks` looks.
    void Installed(const std::string& program, const std::string& cls, int looks,
                   bool removesList = false, const std::string& list = "") {
        FakePlatform::ProgramBehaviour b;
        b.windowClass = cls;
        b.looksUntilWindow = looks;
        b.removesListFile = removesList;
        b.listFile = list;
        fake.programs[program] = b;
    }

    // The calls made after the first one matching `from`.
    std::vector<std::string> CallsFrom(const std::string& from) const {
        auto it = std::find(fake.calls.begin(), fake.calls.end(), from);
        return std::vector<std::string>(it, fake.calls.end());
    }

    static std::vector<JobRecord> Records(const std::string& bytes) {
        return ParseJobRecords(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                               bytes.size());
    }

    FakePlatform fake;
};

TEST_F(WebBBSTest, PathsFollowProgramFilesAndTempFolder) {
    WebBBS plain(fake);
    EXPECT_EQ(plain.InstallPath(), "C:\\Program Files\\TARVOSK\\");
    EXPECT_EQ(plain.UpLoadListFile(), kUpList);
    EXPECT_EQ(plain.DownLoadListFile(), kDownList);

    fake.programFiles = "C:/Apps";
    EXPECT_EQ(WebBBS(fake).InstallPath(), "C:\\Apps\\TARVOSK\\");
    fake.programFiles = "";
    EXPECT_EQ(WebBBS(fake).InstallPath(), "C:\\Program Files\\TARVOSK\\");
    fake.programFiles = "D:\\Prog\\";
    EXPECT_EQ(WebBBS(fake).InstallPath(), "D:\\Prog\\\\TARVOSK\\");

    fake.tempFolder = "C:\\Temp Files\\";
    EXPECT_EQ(WebBBS(fake).UpLoadListFile(), "C:\\Temp Files\\TARVOSK_Upload_List");
}

TEST_F(WebBBSTest, GateLooksForDownThenUploadThenExplorerThenRunsTheCheck) {
    WebBBS obj(fake);
    fake.calls.clear();
    fake.installCheckResult = 2;
    EXPECT_FALSE(obj.CheckClientReady());
    const std::vector<std::string> expected = {"find tarvosk_class_down", "find tarvosk_class_upload",
                                               "find tarvosk_class_explorer", "installcheck"};
    EXPECT_EQ(fake.calls, expected);

    fake.installCheckResult = -1;
    EXPECT_FALSE(obj.CheckClientReady());
    fake.installCheckResult = 1;
    EXPECT_TRUE(obj.CheckClientReady());

    fake.calls.clear();
    fake.ShowWindow(kClassExplorer);
    EXPECT_TRUE(obj.CheckClientReady());
    EXPECT_EQ(fake.calls.back(), "find tarvosk_class_explorer");
    fake.calls.clear();
    fake.ShowWindow(kClassDown);
    EXPECT_TRUE(obj.CheckClientReady());
    EXPECT_EQ(fake.calls, std::vector<std::string>{"find tarvosk_class_down"});
    EXPECT_EQ(fake.installChecks, 3);
}

TEST_F(WebBBSTest, InitEmptiesTheListAndRunsTheGateWhateverItSays) {
    WebBBS obj(fake);
    obj.UpLoadInfo("old");
    obj.DownLoadInfo("1", "C:\\old");
    fake.installCheckResult = 2;
    EXPECT_EQ(obj.UpLoadInit(), kS_OK);
    EXPECT_EQ(obj.DownLoadInit(), kS_OK);
    EXPECT_EQ(obj.UpLoadList(), "");
    EXPECT_EQ(obj.DownLoadList(), "");
    EXPECT_EQ(fake.installChecks, 2);
}

TEST_F(WebBBSTest, DownLoadInfoSetsTheKoreanLocaleEveryTimeUploadNever) {
    WebBBS obj(fake);
    obj.UpLoadInfo("a");
    EXPECT_EQ(fake.localeSets, 0);
    obj.DownLoadInfo("7", "C:\\d");
    obj.DownLoadInfo("9", "D:\\x y");
    EXPECT_EQ(fake.localeSets, 2);
    EXPECT_EQ(obj.DownLoadList(), "7#<C:\\d#>9#<D:\\x y");
}

TEST_F(WebBBSTest, NotRunningClientIsStartedAfterStaleFileIsDeleted) {
    Installed(kUpProgram, kClassUpload, 2);
    fake.files[kUpList] = "stale";
    WebBBS obj(fake);
    obj.UpLoadInfo("a");
    obj.UpLoadInfo("b");
    fake.calls.clear();

    EXPECT_EQ(obj.UpLoadEnd("user", "secret"), kS_OK);

    const std::vector<std::string> expected = {
        "find tarvosk_class_down", "find tarvosk_class_upload", "find tarvosk_class_explorer",
        "installcheck",
        "find tarvosk_class_upload",  // the hand-off's own look
        "exists " + kUpList, "delete " + kUpList,
        "start " + kUpProgram + " bbs user secret " + kUpList,
        "find tarvosk_class_upload", "sleep 500", "find tarvosk_class_upload", "sleep 500",
        "find tarvosk_class_upload",  // the window is there now
        "append " + kUpList, "exists " + kUpList};
    EXPECT_EQ(fake.calls, expected);
    const auto records = Records(fake.files[kUpList]);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].kind, 2u);
    EXPECT_EQ(records[0].text, "a#>b");
    EXPECT_TRUE(fake.sent.empty());
}

TEST_F(WebBBSTest, RunningClientGetsRecordsAppendedAndNothingDeletedOrStarted) {
    fake.ShowWindow(kClassDown);
    fake.files[kDownList] = "";
    WebBBS obj(fake);
    obj.DownLoadInfo("7", "C:\\d");
    EXPECT_EQ(obj.DownLoadEnd("user", "pw"), kS_OK);
    EXPECT_EQ(obj.DownLoadEnd("user", "pw"), kS_OK);
    EXPECT_TRUE(fake.started.empty());
    EXPECT_EQ(std::count(fake.calls.begin(), fake.calls.end(), "delete " + kDownList), 0);
    const auto records = Records(fake.files[kDownList]);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].text, records[1].text);
    EXPECT_EQ(records[1].kind, 7u);
    EXPECT_EQ(obj.DownLoadList(), "7#<C:\\d");  // End never clears the list
}

TEST_F(WebBBSTest, OnlyTheDownloadClientRunningStillStartsTheUploadClient) {
    fake.ShowWindow(kClassDown);
    Installed(kUpProgram, kClassUpload, 0);
    WebBBS obj(fake);
    obj.UpLoadInfo("x");
    EXPECT_EQ(obj.UpLoadEnd("u", "p"), kS_OK);
    EXPECT_EQ(fake.installChecks, 0);
    ASSERT_EQ(fake.started.size(), 1u);
    EXPECT_EQ(fake.started[0].program, kUpProgram);
}

TEST_F(WebBBSTest, RecordGoesByCopyDataOnlyWhenTheFileHasGone) {
    Installed(kUpProgram, kClassUpload, 0, /*removesList=*/true, kUpList);
    WebBBS obj(fake);
    obj.UpLoadInfo("a#>b");
    EXPECT_EQ(obj.UpLoadEnd("u", "p"), kS_OK);
    ASSERT_EQ(fake.sent.size(), 1u);
    EXPECT_EQ(fake.sent[0].kind, 2u);
    EXPECT_EQ(fake.sent[0].bytes, std::string("a#>b\0", 5));
    EXPECT_EQ(fake.sent[0].sender, reinterpret_cast<std::uintptr_t>(&obj));
    EXPECT_EQ(fake.sent[0].window, fake.windows[kClassUpload]);
    EXPECT_EQ(fake.calls.back(), "copydata 2");
}

TEST_F(WebBBSTest, BusyListFileIsRetriedThenSentByMessage) {
    fake.ShowWindow(kClassUpload);
    WebBBS obj(fake);
    obj.UpLoadInfo("a");

    fake.busyAppends = 3;  // held briefly: the fourth try writes
    EXPECT_EQ(obj.UpLoadEnd("u", "p"), kS_OK);
    EXPECT_EQ(Records(fake.files[kUpList]).size(), 1u);
    EXPECT_TRUE(fake.sent.empty());

    fake.busyAppends = 1000;  // held for good: the record goes by message
    fake.calls.clear();
    EXPECT_EQ(obj.UpLoadEnd("u", "p"), kS_OK);
    EXPECT_EQ(std::count(fake.calls.begin(), fake.calls.end(), "append " + kUpList),
              static_cast<long>(kListFileRetries) + 1);
    ASSERT_EQ(fake.sent.size(), 1u);
    EXPECT_EQ(fake.sent[0].bytes, std::string("a\0", 2));
}

TEST_F(WebBBSTest, RecordNeitherWrittenNorSentIsNotReportedAsSuccess) {
    fake.ShowWindow(kClassUpload);
    WebBBS obj(fake);
    obj.UpLoadInfo("a");
    fake.appendFails = true;
    EXPECT_EQ(obj.UpLoadEnd("u", "p"), kS_OK);  // still reached by message
    EXPECT_EQ(fake.sent.size(), 1u);

    fake.sendFails = true;  // the client closed between the look and the send
    EXPECT_EQ(obj.UpLoadEnd("u", "p"), kS_FALSE);
    EXPECT_EQ(fake.sent.size(), 1u);
}

TEST_F(WebBBSTest, ClientThatNeverShowsItsWindowGivesUpWithinTheBound) {
    Installed(kDownProgram, kClassDown, -1);
    WebBBS obj(fake);
    obj.DownLoadInfo("1", "C:\\x");
    EXPECT_EQ(obj.DownLoadEnd("u", "p"), kS_FALSE);
    const auto sleeps = std::count(fake.calls.begin(), fake.calls.end(), "sleep 500");
    EXPECT_EQ(sleeps, static_cast<long>(kClientWindowWaitMs / kClientWindowPollMs));
    EXPECT_EQ(std::count_if(fake.calls.begin(), fake.calls.end(),
                            [](const std::string& c) { return c.rfind("append", 0) == 0; }),
              0);
}

TEST_F(WebBBSTest, ProgramThatCannotStartIsNotWaitedFor) {
    Installed(kUpProgram, kClassUpload, 0);
    fake.startFails = true;
    WebBBS obj(fake);
    obj.UpLoadInfo("a");
    EXPECT_EQ(obj.UpLoadEnd("u", "p"), kS_FALSE);
    EXPECT_EQ(std::count(fake.calls.begin(), fake.calls.end(), "sleep 500"), 0);
}

TEST_F(WebBBSTest, EndRefusesEmptyListOrCredentialsButStoresThem) {
    fake.ShowWindow(kClassUpload);
    WebBBS obj(fake);
    EXPECT_EQ(obj.UpLoadEnd("u", "p"), kS_FALSE);  // empty list

    obj.UpLoadInfo("a");
    EXPECT_EQ(obj.UpLoadEnd("u", ""), kS_FALSE);
    EXPECT_EQ(g_strUserID.Get(), "u");
    EXPECT_EQ(g_strUserPW.Get(), "");
    EXPECT_EQ(obj.UpLoadEnd("", "p"), kS_FALSE);
    EXPECT_TRUE(fake.files.empty());

    fake.windows.clear();
    fake.installCheckResult = 2;
    EXPECT_EQ(obj.UpLoadEnd("u", "p"), kS_FALSE);  // the gate failed
    EXPECT_EQ(fake.installChecks, 1);
    EXPECT_TRUE(fake.started.empty());
}

TEST_F(WebBBSTest, GateRunsEvenForAnEmptyList) {
    fake.installCheckResult = 1;
    WebBBS obj(fake);
    EXPECT_EQ(obj.DownLoadEnd("u", "p"), kS_FALSE);
    EXPECT_EQ(fake.installChecks, 1);
}

// A blank, tab, quote or control character would split a client's command
// line or add arguments to it (command-line injection). Such credentials are
// refused where a program is started with them, and only there: a running,
// signed-in client still gets the job.
TEST_F(WebBBSTest, CommandLineInjectionIsRefusedOnlyWhereAProgramWouldStart) {
    for (const char* bad : {"a b", "a\tb", "a\"b", "a\nb", "a\x7f", "\x01"}) {
        SCOPED_TRACE(bad);
        std::string val;
        {
            FakePlatform none;  // no client runs: each would be started
            none.programs[kUpProgram] = {kClassUpload, 0, false, ""};
            WebBBS obj(none);
            obj.UpLoadInfo("a");
            EXPECT_EQ(obj.UpLoadEnd(bad, "p"), kS_FALSE);
            EXPECT_EQ(obj.UpLoadEnd("u", bad), kS_FALSE);
            EXPECT_EQ(obj.LauncherExplorer("u", bad), kS_FALSE);
            EXPECT_EQ(obj.LauncherWebLink(bad, "p", "http://x", val), kS_FALSE);
            EXPECT_EQ(val, "0");
            EXPECT_TRUE(none.started.empty());
            EXPECT_TRUE(none.files.empty());
            EXPECT_EQ(none.installChecks, 0);  // refused before any dialog
        }
        {
            FakePlatform running;
            for (const char* cls : {kClassUpload, kClassDown, kClassExplorer})
                running.ShowWindow(cls);
            WebBBS obj(running);
            obj.UpLoadInfo("a");
            EXPECT_EQ(obj.UpLoadEnd("u", bad), kS_OK);
            EXPECT_EQ(obj.LauncherWebLink(bad, "", "http://x", val), kS_OK);
            EXPECT_EQ(val, "1");
            EXPECT_EQ(obj.LauncherExplorer("u", bad), kS_FALSE);  // always a command line
            EXPECT_EQ(Records(running.files[kUpList]).size(), 1u);
            EXPECT_EQ(Records(running.files[kDownList]).size(), 1u);
            EXPECT_TRUE(running.started.empty());
        }
        ResetCredentials();
    }
    // Korean text in code page 949 is not mistaken for control bytes.
    EXPECT_TRUE(IsSafeCredential("\xB1\xE8\xC3\xB6\xBC\xF6"));
    Installed(kUpProgram, kClassUpload, 0);
    WebBBS obj(fake);
    obj.UpLoadInfo("a");
    EXPECT_EQ(obj.UpLoadEnd("\xB1\xE8\xC3\xB6\xBC\xF6", "p@ss!"), kS_OK);
}

// Another object (another tab) stores other credentials while this call sits
// in the install/update dialog: the client still starts with this call's.
TEST_F(WebBBSTest, StartUsesTheCredentialsOfItsOwnCall) {
    const struct {
        const char* what;
        std::function<long(WebBBS&)> call;
        std::string program;
        std::string parameters;
    } cases[] = {
        {"UpLoadEnd", [](WebBBS& o) { return o.UpLoadEnd("mine", "minepw"); }, kUpProgram,
         "bbs mine minepw " + kUpList},
        {"DownLoadEnd", [](WebBBS& o) { return o.DownLoadEnd("mine", "minepw"); }, kDownProgram,
         "bbs mine minepw " + kDownList},
        {"LauncherWebLink",
         [](WebBBS& o) {
             std::string v;
             return o.LauncherWebLink("mine", "minepw", "http://l", v);
         },
         kDownProgram, "weblink mine minepw " + kDownList},
        {"LauncherExplorer", [](WebBBS& o) { return o.LauncherExplorer("mine", "minepw"); },
         "C:\\Program Files\\TARVOSK\\Explorer.exe", "mine minepw"},
    };
    for (const auto& c : cases) {
        FakePlatform f;
        f.programs[kUpProgram] = {kClassUpload, 0, false, ""};
        f.programs[kDownProgram] = {kClassDown, 0, false, ""};
        f.duringInstallCheck = [] {
            g_strUserID.Set("other");
            g_strUserPW.Set("otherpw");
        };
        WebBBS obj(f);
        obj.UpLoadInfo("a");
        obj.DownLoadInfo("1", "C:\\a");
        EXPECT_EQ(c.call(obj), kS_OK) << c.what;
        ASSERT_EQ(f.started.size(), 1u) << c.what;
        EXPECT_EQ(f.started[0].program, c.program) << c.what;
        EXPECT_EQ(f.started[0].parameters, c.parameters) << c.what;
        EXPECT_EQ(g_strUserID.Get(), "other") << c.what;  // the shared store stays as designed
    }
}

// Every refusal leaves its reason in the support log, and the password never
// reaches the log, whichever way the call ends.
TEST_F(WebBBSTest, RefusalsLeaveTheirReasonAndNeverThePassword) {
    FakeSupportLogSystem logSystem;
    SupportLog log(logSystem);
    logSystem.Switch(1);
    log.ReadSwitch();
    SetSupportLog(&log);
    const std::string pw = "Pw-7f3a";
    std::string link;
    // What each case changes in the system; most have one client running.
    using Setup = void (*)(FakePlatform&);
    const Setup down = [](FakePlatform& f) { f.ShowWindow(kClassDown); };
    const Setup up = [](FakePlatform& f) { f.ShowWindow(kClassUpload); };
    const Setup none = [](FakePlatform&) {};
    const struct {
        const char* what;
        Setup running;
        Setup more;
        std::function<long(WebBBS&)> call;
        const char* reason;
    } cases[] = {
        {"gate", none, [](FakePlatform& f) { f.installCheckResult = 2; },
         [&](WebBBS& o) { return o.UpLoadEnd("u", pw); }, "install/update check ended with code 2"},
        {"empty list", up, none, [&](WebBBS& o) { return o.UpLoadEnd("u", pw); }, "job list empty"},
        {"empty ID", up, none, [&](WebBBS& o) { return o.UpLoadInfo("a"), o.UpLoadEnd("", pw); },
         "user ID empty"},
        {"blank", down, none,
         [&](WebBBS& o) { return o.UpLoadInfo("a"), o.UpLoadEnd("u", pw + " x"); },
         "credentials refused"},
        {"no start", down, [](FakePlatform& f) { f.startFails = true; },
         [&](WebBBS& o) { return o.UpLoadInfo("a"), o.UpLoadEnd("u", pw); },
         "client program could not be started"},
        {"no window", down,
         [](FakePlatform& f) { f.programs[kUpProgram] = {kClassUpload, -1, false, ""}; },
         [&](WebBBS& o) { return o.UpLoadInfo("a"), o.UpLoadEnd("u", pw); },
         "did not show its window within ms 20000"},
        {"not delivered", up, [](FakePlatform& f) { f.appendFails = f.sendFails = true; },
         [&](WebBBS& o) { return o.UpLoadInfo("a"), o.UpLoadEnd("u", pw); }, "not delivered"},
        {"no temp", up, [](FakePlatform& f) { f.hasTempFolder = false; },
         [&](WebBBS& o) { return o.UpLoadInfo("a"), o.UpLoadEnd("u", pw); }, "no temporary folder"},
        {"link not taken", none, none,
         [&](WebBBS& o) { return o.LauncherWebLink("", "", "l", link); },
         "no download client running and no stored credentials"},
        {"empty link", down, none, [&](WebBBS& o) { return o.LauncherWebLink("u", pw, "", link); },
         "web link empty"},
        {"explorer", none, [](FakePlatform& f) { f.startFails = true; },
         [&](WebBBS& o) { return o.LauncherExplorer("u", pw); }, "explorer could not be started"},
    };
    for (const auto& c : cases) {
        FakePlatform f;
        c.running(f);
        c.more(f);
        WebBBS obj(f);
        logSystem.file.clear();
        {
            CallNote note(c.what);
            EXPECT_EQ(note.Done(c.call(obj)), kS_FALSE) << c.what;
        }
        EXPECT_NE(logSystem.file.find(c.reason), std::string::npos) << c.what << logSystem.file;
        EXPECT_EQ(logSystem.file.find(pw), std::string::npos) << c.what << logSystem.file;
        ResetCredentials();
    }
    SetSupportLog(nullptr);
}

TEST_F(WebBBSTest, MissingTempFolderRefusesEveryHandOff) {
    fake.hasTempFolder = false;
    fake.ShowWindow(kClassDown);
    fake.ShowWindow(kClassUpload);
    WebBBS obj(fake);
    EXPECT_EQ(obj.UpLoadListFile(), "");
    obj.UpLoadInfo("a");
    obj.DownLoadInfo("1", "C:\\x");
    EXPECT_EQ(obj.UpLoadEnd("u", "p"), kS_FALSE);
    EXPECT_EQ(obj.DownLoadEnd("u", "p"), kS_FALSE);
    std::string val;
    EXPECT_EQ(obj.LauncherWebLink("u", "p", "http://x", val), kS_FALSE);
    EXPECT_EQ(val, "0");
    EXPECT_TRUE(fake.files.empty());
    EXPECT_TRUE(fake.sent.empty());
}

TEST_F(WebBBSTest, CredentialsAreSharedAcrossObjects) {
    fake.ShowWindow(kClassDown);
    WebBBS first(fake);
    WebBBS second(fake);
    first.UpLoadInfo("a");
    first.UpLoadEnd("shared", "pw");
    std::string val;
    EXPECT_EQ(second.LauncherWebLink("", "", "http://x/y", val), kS_OK);
    EXPECT_EQ(val, "1");
    EXPECT_EQ(g_strUserID.Get(), "shared");

    // Other threads see and set the same values without tearing.
    std::thread writer([] {
        for (int i = 0; i < 2000; ++i) g_strUserID.Set(i % 2 ? "abcdefgh" : "xy");
    });
    for (int i = 0; i < 2000; ++i) {
        const std::string v = g_strUserID.Get();
        ASSERT_TRUE(v == "abcdefgh" || v == "xy" || v == "shared") << v;
    }
    writer.join();
}

TEST_F(WebBBSTest, LauncherExplorerStartsOnlyWhenNeeded) {
    WebBBS obj(fake);
    EXPECT_EQ(obj.LauncherExplorer("u", ""), kS_FALSE);
    EXPECT_EQ(g_strUserPW.Get(), "");
    EXPECT_EQ(fake.installChecks, 0);

    fake.installCheckResult = 2;
    EXPECT_EQ(obj.LauncherExplorer("u", "p"), kS_FALSE);  // gate failed
    EXPECT_TRUE(fake.started.empty());

    fake.installCheckResult = 1;
    EXPECT_EQ(obj.LauncherExplorer("u", "p"), kS_OK);
    ASSERT_EQ(fake.started.size(), 1u);
    EXPECT_EQ(fake.started[0].program, "C:\\Program Files\\TARVOSK\\Explorer.exe");
    EXPECT_EQ(fake.started[0].parameters, "u p");

    fake.ShowWindow(kClassExplorer);
    EXPECT_EQ(obj.LauncherExplorer("u", "p"), kS_OK);
    EXPECT_EQ(fake.started.size(), 1u);

    fake.windows.clear();
    fake.startFails = true;
    EXPECT_EQ(obj.LauncherExplorer("u", "p"), kS_FALSE);
}

TEST_F(WebBBSTest, WebLinkIsTakenWithCredentialsOrARunningDownloadClient) {
    WebBBS obj(fake);
    std::string val = "unset";
    EXPECT_EQ(obj.LauncherWebLink("", "", "http://a", val), kS_FALSE);
    EXPECT_EQ(val, "0");
    EXPECT_EQ(obj.WebLink(), "http://a");
    EXPECT_EQ(fake.installChecks, 0);

    Installed(kDownProgram, kClassDown, 1);
    EXPECT_EQ(obj.LauncherWebLink("u", "p", "http://b c", val), kS_OK);
    EXPECT_EQ(val, "1");
    ASSERT_EQ(fake.started.size(), 1u);
    EXPECT_EQ(fake.started[0].parameters, "weblink u p " + EncodeBlanks(kDownList));
    auto records = Records(fake.files[kDownList]);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].kind, 8u);
    EXPECT_EQ(records[0].text, "http://b c");

    // Running client, empty arguments: stored credentials stay, link appended.
    EXPECT_EQ(obj.LauncherWebLink("", "", "http://d", val), kS_OK);
    EXPECT_EQ(g_strUserPW.Get(), "p");
    EXPECT_EQ(Records(fake.files[kDownList]).size(), 2u);
    EXPECT_EQ(fake.started.size(), 1u);
}

TEST_F(WebBBSTest, WebLinkWithHalfTheCredentialsCannotShiftTheClientsArguments) {
    // An empty value would leave two blanks in a row on the command line,
    // and the job-list path would be read as the password.
    Installed(kDownProgram, kClassDown, 1);
    for (const auto& [id, pw] : {std::pair{"u", ""}, std::pair{"", "p"}}) {
        ResetCredentials();
        WebBBS obj(fake);
        std::string val = "unset";
        EXPECT_EQ(obj.LauncherWebLink(id, pw, "http://a", val), kS_FALSE) << id << pw;
        EXPECT_EQ(val, "0") << id << pw;
        EXPECT_TRUE(fake.started.empty()) << id << pw;
        EXPECT_EQ(fake.installChecks, 0) << id << pw;
        EXPECT_TRUE(fake.files.empty()) << id << pw;
    }
}

TEST_F(WebBBSTest, WebLinkNotDeliveredAnswersZero) {
    WebBBS obj(fake);
    std::string val;
    fake.installCheckResult = 1;
    EXPECT_EQ(obj.LauncherWebLink("u", "p", "", val), kS_FALSE);  // nothing to hand
    EXPECT_EQ(val, "0");
    EXPECT_EQ(fake.installChecks, 1);

    fake.installCheckResult = 2;
    EXPECT_EQ(obj.LauncherWebLink("u", "p", "http://x", val), kS_FALSE);
    EXPECT_EQ(val, "0");
    EXPECT_TRUE(fake.files.empty());
}

TEST_F(WebBBSTest, CheckInstallFiresOnlyTheEvent) {
    struct Counter : WebBBSEvents {
        int fired = 0;
        long FireInstallCompleteEvent() override { return ++fired, 0; }
    } events;
    WebBBS withSink(fake, &events);
    fake.calls.clear();
    EXPECT_EQ(withSink.CheckInstall(), kS_OK);
    EXPECT_EQ(events.fired, 1);
    EXPECT_TRUE(fake.calls.empty());
    WebBBS noSink(fake);
    EXPECT_EQ(noSink.CheckInstall(), kS_OK);
}

}  // namespace
}  // namespace trv
