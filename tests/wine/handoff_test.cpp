// The hand-off under Wine with the real stand-in client programs: what they
// are started with and what they receive, by file and by WM_COPYDATA.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>

#include "control/credentials.h"
#include "control/job_list.h"
#include "testbed/job_reader.h"
#include "control/webbbs.h"
#include "platform/win32/support_log_win32.h"
#include "platform/win32/win32_platform.h"
#include "support/wine_support.h"
#include "testbed/testbed_log.h"

namespace trv {
namespace {

using namespace winetest;

std::atomic<int> g_installChecks{0};

// The platform of these tests: real calls, with a gate that always passes.
Win32Platform& TestPlatform() {
    static Win32Platform platform([] {
        ++g_installChecks;
        return 1;
    });
    return platform;
}

class HandOffTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(GetACP(), 949u) << "tests run with a Korean ANSI code page";
        ASSERT_TRUE(InstallStandInClients());
    }
    static void TearDownTestSuite() { CloseAllClients(); }

    void SetUp() override {
        ASSERT_TRUE(CloseAllClients());
        ResetCredentials();
        for (const char* v : {"TRV_TESTBED_START_DELAY_MS", "TRV_TESTBED_NO_WINDOW",
                              "TRV_TESTBED_REMOVE_LIST", "TRV_TESTBED_HOLD_LIST_MS"})
            SetEnv(v, nullptr);
        UseTempFolder(BuildDir() + "\\handoff-temp\\");
        const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
        log = BuildDir() + "\\handoff-" + info->name() + ".log";
        DeleteFileA(log.c_str());
        SetEnv("TRV_TESTBED_LOG", log.c_str());
        g_installChecks = 0;
    }
    void TearDown() override { CloseAllClients(); }

    void UseTempFolder(const std::string& folder) {
        ASSERT_TRUE(MakeFolder(folder)) << folder;
        SetEnv("TMP", folder.c_str());
        SetEnv("TEMP", folder.c_str());
        DeleteFileA((folder + kUploadListName).c_str());
        DeleteFileA((folder + kDownloadListName).c_str());
        temp = folder;
    }

    std::vector<TestbedEvent> Events(const std::string& program, const std::string& event) {
        std::vector<TestbedEvent> out;
        for (const auto& e : ReadTestbedLog(log)) {
            if (e.program == program && e.event == event) out.push_back(e);
        }
        return out;
    }
    // Waits (bounded) until `program` has logged `count` records.
    std::vector<TestbedEvent> WaitRecords(const std::string& program, std::size_t count) {
        WaitUntil([&] { return Events(program, "record").size() >= count; }, 10000);
        return Events(program, "record");
    }

    std::string log;
    std::string temp;
};

TEST_F(HandOffTest, ClientNotRunningIsStartedWithItsCommandLineAndFindsOneRecord) {
    // A stale list from an earlier run must not reach the fresh client.
    const std::string list = temp + kUploadListName;
    ASSERT_TRUE(WriteFileBytes(list, std::string(reinterpret_cast<const char*>(
                                         BuildJobRecord(kJobUpload, "stale", 0).data()),
                                     18)));
    WebBBS obj(TestPlatform());
    obj.UpLoadInit();
    obj.UpLoadInfo("a");
    obj.UpLoadInfo("b");
    EXPECT_EQ(obj.UpLoadEnd("user", "pw"), kS_OK);
    EXPECT_GE(g_installChecks.load(), 1);

    const auto starts = Events("TARVOSKUp.exe", "start");
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].params, "bbs user pw " + EncodeBlanks(list));
    EXPECT_EQ(starts[0].args, (std::vector<std::string>{"bbs", "user", "pw", list}));

    const auto records = WaitRecords("TARVOSKUp.exe", 1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].source, "file");
    EXPECT_EQ(records[0].kind, 2u);
    EXPECT_EQ(records[0].length, 5u);
    EXPECT_EQ(records[0].text, "a#>b");

    const std::string bytes = ReadFileBytes(list);
    ASSERT_EQ(bytes.size(), 17u);
    EXPECT_EQ(bytes.substr(0, 8), std::string("\x02\0\0\0\x05\0\0\0", 8));
    EXPECT_EQ(bytes.substr(12), std::string("a#>b\0", 5));
}

TEST_F(HandOffTest, RunningClientGetsTwoIdenticalRecordsAppended) {
    WebBBS obj(TestPlatform());
    obj.DownLoadInfo("7", "C:\\d");
    EXPECT_EQ(obj.DownLoadEnd("user", "pw"), kS_OK);
    ASSERT_EQ(WaitRecords("TARVOSKDown.exe", 1).size(), 1u);
    EXPECT_EQ(obj.DownLoadEnd("user", "pw"), kS_OK);

    const auto records = WaitRecords("TARVOSKDown.exe", 2);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].text, "7#<C:\\d");
    EXPECT_EQ(records[1].text, records[0].text);
    EXPECT_EQ(records[1].kind, 7u);
    EXPECT_EQ(Events("TARVOSKDown.exe", "start").size(), 1u);  // started once
    const std::string bytes = ReadFileBytes(temp + kDownloadListName);
    EXPECT_EQ(ParseJobRecords(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size())
                  .size(),
              2u);
}

TEST_F(HandOffTest, ClientHoldingItsListFileGetsTheRecordByCopyData) {
    // This client reads and removes its list, and holds it open meanwhile for
    // longer than the control retries.
    SetEnv("TRV_TESTBED_REMOVE_LIST", "1");
    SetEnv("TRV_TESTBED_HOLD_LIST_MS", "4000");
    WebBBS obj(TestPlatform());
    obj.UpLoadInfo("\xB0\xA1");  // a Korean syllable in code page 949
    EXPECT_EQ(obj.UpLoadEnd("user", "pw"), kS_OK);

    const auto records = WaitRecords("TARVOSKUp.exe", 1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].source, "copydata");
    EXPECT_EQ(records[0].kind, 2u);
    EXPECT_EQ(records[0].length, 3u);
    EXPECT_EQ(records[0].text, "\xB0\xA1");
    EXPECT_EQ(records[0].wparam, static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&obj)));
}

TEST_F(HandOffTest, WebLinkGoesToTheDownloadClientAsKindEight) {
    WebBBS obj(TestPlatform());
    std::string val;
    EXPECT_EQ(obj.LauncherWebLink("", "", "http://files.example/a", val), kS_FALSE);
    EXPECT_EQ(val, "0");
    EXPECT_TRUE(Events("TARVOSKDown.exe", "start").empty());

    EXPECT_EQ(obj.LauncherWebLink("user", "pw", "http://files.example/a?b=c d", val), kS_OK);
    EXPECT_EQ(val, "1");
    const auto starts = Events("TARVOSKDown.exe", "start");
    ASSERT_EQ(starts.size(), 1u);
    ASSERT_EQ(starts[0].args.size(), 4u);
    EXPECT_EQ(starts[0].args[0], "weblink");
    EXPECT_EQ(starts[0].args[3], temp + kDownloadListName);
    const auto records = WaitRecords("TARVOSKDown.exe", 1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].kind, 8u);
    EXPECT_EQ(records[0].text, "http://files.example/a?b=c d");

    // A running download client takes a link with no credentials given.
    ResetCredentials();
    EXPECT_EQ(obj.LauncherWebLink("", "", "http://files.example/2", val), kS_OK);
    EXPECT_EQ(val, "1");
    EXPECT_EQ(WaitRecords("TARVOSKDown.exe", 2).size(), 2u);
}

TEST_F(HandOffTest, ExplorerIsStartedWithIdAndPassword) {
    WebBBS obj(TestPlatform());
    EXPECT_EQ(obj.LauncherExplorer("user", ""), kS_FALSE);
    EXPECT_EQ(obj.LauncherExplorer("user", "pw"), kS_OK);
    ASSERT_TRUE(WaitUntil([&] { return !Events("Explorer.exe", "window").empty(); }, 10000));
    const auto starts = Events("Explorer.exe", "start");
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].params, "user pw");
    EXPECT_EQ(starts[0].args, (std::vector<std::string>{"user", "pw"}));

    // While it runs nothing more is started.
    EXPECT_EQ(obj.LauncherExplorer("user", "pw"), kS_OK);
    Sleep(500);
    EXPECT_EQ(Events("Explorer.exe", "start").size(), 1u);
}

TEST_F(HandOffTest, TempFolderWithBlanksAndKoreanNamesReachesTheClient) {
    const std::string folder = BuildDir() + "\\" + Ansi(L"임시 폴더 ") + "x y\\";
    UseTempFolder(folder);
    WebBBS obj(TestPlatform());
    ASSERT_EQ(obj.DownLoadListFile(), folder + kDownloadListName);
    const std::string item = Ansi(L"12");
    const std::string path = Ansi(L"C:\\내 문서\\보고서 1.txt");
    obj.DownLoadInfo(item, path);
    EXPECT_EQ(obj.DownLoadEnd("user", "pw"), kS_OK);

    const auto starts = Events("TARVOSKDown.exe", "start");
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].params.find(' ', 12), std::string::npos)
        << "blanks of the list path must travel as marks: " << starts[0].params;
    EXPECT_NE(starts[0].params.find("[[SPACE]]x[[SPACE]]y"), std::string::npos);
    ASSERT_EQ(starts[0].args.size(), 4u);
    EXPECT_EQ(starts[0].args[3], folder + kDownloadListName);
    const auto records = WaitRecords("TARVOSKDown.exe", 1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text, item + "#<" + path);
}

TEST_F(HandOffTest, ProgramThatCannotStartIsRefusedAtOnce) {
    ASSERT_TRUE(RemoveInstalledClients());
    WebBBS obj(TestPlatform());
    obj.UpLoadInfo("a");
    const DWORD start = GetTickCount();
    EXPECT_EQ(obj.UpLoadEnd("user", "pw"), kS_FALSE);
    EXPECT_LT(GetTickCount() - start, kClientWindowWaitMs);
    ASSERT_TRUE(InstallStandInClients());
}

TEST_F(HandOffTest, ClientThatNeverShowsItsWindowIsGivenUp) {
    SetEnv("TRV_TESTBED_NO_WINDOW", "1");
    WebBBS obj(TestPlatform());
    obj.UpLoadInfo("a");
    const DWORD start = GetTickCount();
    EXPECT_EQ(obj.UpLoadEnd("user", "pw"), kS_FALSE);
    const DWORD took = GetTickCount() - start;
    EXPECT_GE(took, kClientWindowWaitMs - 1000);  // it did wait for the client
    EXPECT_EQ(Events("TARVOSKUp.exe", "start").size(), 1u);
    EXPECT_TRUE(Events("TARVOSKUp.exe", "record").empty());
    EXPECT_EQ(GetFileAttributesA((temp + kUploadListName).c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(HandOffTest, CredentialsWithBlanksStartNothing) {
    WebBBS obj(TestPlatform());
    obj.UpLoadInfo("a");
    EXPECT_EQ(obj.UpLoadEnd("user name", "pw"), kS_FALSE);
    EXPECT_EQ(obj.UpLoadEnd("user", "p\"w"), kS_FALSE);
    Sleep(300);
    EXPECT_TRUE(Events("TARVOSKUp.exe", "start").empty());
    EXPECT_EQ(g_installChecks.load(), 0);
}

// ---- the support log in a temporary folder other programs can write ------

// A Unix link, which Wine follows even where Windows would not. Wine starts
// the host's ln as a process of its own, whose handle cannot be waited on.
bool PlantLink(const std::string& unixTarget, const std::string& unixLink,
               const std::string& link) {
    std::string command = "Z:\\bin\\ln -sf " + unixTarget + " " + unixLink;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA("Z:\\bin\\ln", &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return false;
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return WaitUntil([&] { return GetFileAttributesA(link.c_str()) != INVALID_FILE_ATTRIBUTES; },
                     10000);
}

TEST_F(HandOffTest, SupportLogPlantedLinkOrHardLinkNeverCarriesLinesElsewhere) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kSupportLogKey, 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const DWORD one = 1;
    RegSetValueExA(key, kSupportLogValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4);
    const std::string unixBuild = getenv("TRV_BUILD_DIR");
    const std::string victimBytes = "the user's own file\r\n";
    const std::string oldLine = "older line\r\n";
    enum Kind { Link, HardLink, Plain, Full };
    const struct {
        const char* name;
        Kind kind;
        bool lineWritten;
    } cases[] = {
        {"symlink_to_victim", Link, false},
        {"hard_link_to_victim", HardLink, true},
        {"plain_log_keeps_its_lines", Plain, true},
        {"full_log_starts_anew", Full, true},
    };
    for (const auto& c : cases) {
        const std::string folder = BuildDir() + "\\log-" + c.name + "\\";
        const std::string unixFolder = unixBuild + "/log-" + c.name;
        const std::string logPath = folder + kSupportLogName, victim = folder + "victim.txt";
        DeleteFileA(logPath.c_str());
        ASSERT_TRUE(MakeFolder(folder));
        ASSERT_TRUE(WriteFileBytes(victim, victimBytes));
        switch (c.kind) {
        case Link:
            ASSERT_TRUE(PlantLink(unixFolder + "/victim.txt", unixFolder + "/" + kSupportLogName,
                                  logPath));
            break;
        case HardLink: ASSERT_TRUE(CreateHardLinkA(logPath.c_str(), victim.c_str(), nullptr)); break;
        case Plain: ASSERT_TRUE(WriteFileBytes(logPath, oldLine)); break;
        case Full: ASSERT_TRUE(WriteFileBytes(logPath, std::string(kSupportLogLimit, 'x'))); break;
        }
        SetEnv("TMP", folder.c_str());
        SetEnv("TEMP", folder.c_str());
        Win32SupportLogSystem system;
        SupportLog supportLog(system);
        supportLog.ReadSwitch();
        supportLog.WriteLine("probe line");
        EXPECT_EQ(ReadFileBytes(victim), victimBytes) << c.name;
        const std::string written = ReadFileBytes(logPath);
        const bool hasLine = written.find(" probe line\r\n") != std::string::npos;
        EXPECT_EQ(hasLine, c.lineWritten) << c.name;
        if (c.kind == Plain) {
            EXPECT_EQ(written.compare(0, oldLine.size(), oldLine), 0);
        }
        if (c.kind == Full) {
            EXPECT_LT(written.size(), std::size_t{1000}) << c.name;
        }
    }

    RegDeleteValueA(key, kSupportLogValue);
    RegCloseKey(key);
}

}  // namespace
}  // namespace trv
