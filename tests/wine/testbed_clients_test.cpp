// The stand-in client programs under Wine: started as the control starts them,
// fed through their job-list files and WM_COPYDATA, checked through their log.

#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "control/job_list.h"
#include "testbed/testbed_log.h"

namespace {

// CP949 bytes: "한글", "사용자", "테스트".
const std::string kHangul = "\xC7\xD1\xB1\xDB";
const std::string kUser = "\xBB\xE7\xBF\xEB\xC0\xDA";
const std::string kTest = "\xC5\xD7\xBD\xBA\xC6\xAE";
// UTF-8 "한글", as the log's readable text field must hold it.
const std::string kHangulUtf8 = "\xED\x95\x9C\xEA\xB8\x80";

constexpr char kUpClass[] = "tarvosk_class_upload";
constexpr char kDownClass[] = "tarvosk_class_down";
constexpr char kExplorerClass[] = "tarvosk_class_explorer";

const char* const kOptionVars[] = {"TRV_TESTBED_START_DELAY_MS", "TRV_TESTBED_NO_WINDOW",
                                   "TRV_TESTBED_REMOVE_LIST", "TRV_TESTBED_HOLD_LIST_MS",
                                   "TRV_TESTBED_LIFETIME_MS"};

std::string Env(const char* name) {
    char buf[1024];
    const DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
    return (n > 0 && n < sizeof buf) ? std::string(buf, n) : std::string();
}

std::string TempDir() {
    char buf[MAX_PATH + 1];
    const DWORD n = GetTempPathA(sizeof buf, buf);
    std::string dir(buf, n);
    if (dir.empty() || dir.back() != '\\') dir += '\\';
    return dir;
}

// TRV_BUILD_DIR is a Unix path; Wine maps the root as Z:.
std::string TestbedDir() {
    std::string dir = "Z:" + Env("TRV_BUILD_DIR") + "/testbed/";
    for (char& c : dir)
        if (c == '/') c = '\\';
    return dir;
}

bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (done()) return true;
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(20);
    }
}

HWND WaitWindow(const char* cls, DWORD timeoutMs = 10000) {
    HWND hwnd = nullptr;
    WaitUntil([&] { return (hwnd = FindWindowA(cls, nullptr)) != nullptr; }, timeoutMs);
    return hwnd;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Appends bytes the way the control does: exclusive open, at the end. The
// client may be reading at that moment, so a sharing violation is retried.
bool AppendBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    HANDLE f = INVALID_HANDLE_VALUE;
    WaitUntil(
        [&] {
            f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
            return f != INVALID_HANDLE_VALUE;
        },
        3000);
    if (f == INVALID_HANDLE_VALUE) return false;
    SetFilePointer(f, 0, nullptr, FILE_END);
    DWORD written = 0;
    const BOOL ok = WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(f);
    return ok && written == bytes.size();
}

bool AppendRecord(const std::string& path, std::uint32_t kind, const std::string& text) {
    return AppendBytes(path, trv::BuildJobRecord(kind, text, 0x0BADF00D));
}

LRESULT SendCopy(HWND hwnd, WPARAM wParam, ULONG_PTR kind, const void* data, DWORD size) {
    COPYDATASTRUCT cds{};
    cds.dwData = kind;
    cds.cbData = size;
    cds.lpData = const_cast<void*>(data);
    return SendMessageA(hwnd, WM_COPYDATA, wParam, reinterpret_cast<LPARAM>(&cds));
}

class TestbedClients : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(GetACP(), 949u) << "the tests need the Korean ANSI code page";
        ASSERT_FALSE(Env("TRV_BUILD_DIR").empty());
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        log_ = TempDir() + "trv_testbed_" + info->name() + ".log";
        DeleteFileA(log_.c_str());
        SetEnvironmentVariableA("TRV_TESTBED_LOG", log_.c_str());
        for (const char* v : kOptionVars) SetEnvironmentVariableA(v, nullptr);
        SetEnvironmentVariableA("TRV_TESTBED_LIFETIME_MS", "30000");
        // A folder with a blank and Korean in its name, as a user's temporary
        // folder may have.
        dir_ = TempDir() + "trv tb " + kHangul + "\\";
        CreateDirectoryA(dir_.c_str(), nullptr);
        for (const char* cls : {kUpClass, kDownClass, kExplorerClass})
            ASSERT_EQ(FindWindowA(cls, nullptr), nullptr) << "a client is still running: " << cls;
    }

    void TearDown() override {
        // Never leave a client behind for the next case.
        for (const char* cls : {kUpClass, kDownClass, kExplorerClass}) {
            HWND hwnd;
            while ((hwnd = FindWindowA(cls, nullptr)) != nullptr) {
                PostMessageA(hwnd, WM_CLOSE, 0, 0);
                if (!WaitUntil([&] { return !IsWindow(hwnd); }, 5000)) break;
            }
        }
        for (const char* v : kOptionVars) SetEnvironmentVariableA(v, nullptr);
    }

    void Start(const char* exe, const std::string& params) {
        const std::string path = TestbedDir() + exe;
        const auto rc = reinterpret_cast<INT_PTR>(
            ShellExecuteA(nullptr, nullptr, path.c_str(), params.c_str(), nullptr, SW_SHOWNORMAL));
        ASSERT_GT(rc, 32) << path;
    }

    std::vector<TestbedEvent> Events() const { return ReadTestbedLog(log_); }

    // Every line the programs write must be one the reader accepts.
    void ExpectEveryLineParses() const {
        const std::string text = ReadAll(log_);
        std::size_t lines = 0;
        for (char c : text) lines += (c == '\n');
        EXPECT_EQ(Events().size(), lines) << text;
    }

    std::vector<TestbedEvent> Matching(const std::function<bool(const TestbedEvent&)>& pred) const {
        std::vector<TestbedEvent> out;
        for (auto& e : Events())
            if (pred(e)) out.push_back(e);
        return out;
    }

    std::vector<TestbedEvent> WaitEvents(const std::function<bool(const TestbedEvent&)>& pred,
                                         std::size_t count, DWORD timeoutMs = 5000) const {
        std::vector<TestbedEvent> found;
        WaitUntil([&] { return (found = Matching(pred)).size() >= count; }, timeoutMs);
        return found;
    }

    TestbedEvent WaitStart(const std::string& program) const {
        auto found = WaitEvents(
            [&](const TestbedEvent& e) { return e.event == "start" && e.program == program; }, 1);
        return found.empty() ? TestbedEvent{} : found.front();
    }

    std::vector<TestbedEvent> WaitRecords(const char* source, std::size_t count,
                                          DWORD timeoutMs = 5000) const {
        return WaitEvents(
            [&](const TestbedEvent& e) { return e.event == "record" && e.source == source; }, count,
            timeoutMs);
    }

    // Closes the window as a user would and waits for the program's last word.
    void CloseClient(const char* cls, const std::string& program) {
        HWND hwnd = FindWindowA(cls, nullptr);
        ASSERT_NE(hwnd, nullptr);
        PostMessageA(hwnd, WM_CLOSE, 0, 0);
        const auto exits = WaitEvents(
            [&](const TestbedEvent& e) { return e.event == "exit" && e.program == program; }, 1);
        ASSERT_EQ(exits.size(), 1u);
        EXPECT_TRUE(WaitUntil([&] { return FindWindowA(cls, nullptr) == nullptr; }, 5000));
        EXPECT_NE(ReadAll(log_).find("\"reason\":\"close\""), std::string::npos);
    }

    std::string log_;
    std::string dir_;
};

TEST_F(TestbedClients, UploadClientTakesRecordsFromItsListFileAndByCopyData) {
    const std::string list = dir_ + "up list";
    DeleteFileA(list.c_str());
    const std::string params = "bbs " + kUser + " p" + kHangul + "w " + trv::EncodeBlanks(list);
    Start("TARVOSKUp.exe", params);
    HWND hwnd = WaitWindow(kUpClass);
    ASSERT_NE(hwnd, nullptr);

    const TestbedEvent start = WaitStart("TARVOSKUp.exe");
    EXPECT_EQ(start.params, params);
    EXPECT_EQ(start.args, (std::vector<std::string>{"bbs", kUser, "p" + kHangul + "w", list}));
    EXPECT_EQ(start.list_file, list);
    EXPECT_NE(start.pid, 0u);

    // One record, then two at once with a third cut after its head and part
    // of its text: only whole records count, and the rest is taken later.
    ASSERT_TRUE(AppendRecord(list, trv::kJobUpload, "a#>b " + kHangul));
    auto records = WaitRecords("file", 1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].kind, 2u);
    EXPECT_EQ(records[0].length, 5u + kHangul.size() + 1);
    EXPECT_EQ(records[0].text, "a#>b " + kHangul);
    EXPECT_EQ(records[0].list_file, list);
    EXPECT_EQ(records[0].pid, start.pid);

    std::vector<std::uint8_t> bytes = trv::BuildJobRecord(2, "second", 1);
    const auto third = trv::BuildJobRecord(7, kTest + "#<C:\\d", 2);
    const auto fourth = trv::BuildJobRecord(8, "x", 3);
    bytes.insert(bytes.end(), third.begin(), third.end());
    const std::vector<std::uint8_t> head(fourth.begin(), fourth.begin() + 13);
    bytes.insert(bytes.end(), head.begin(), head.end());
    ASSERT_TRUE(AppendBytes(list, bytes));
    records = WaitRecords("file", 3);
    Sleep(300);  // several polls with the cut record pending
    records = Matching([](const TestbedEvent& e) { return e.event == "record"; });
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[1].text, "second");
    EXPECT_EQ(records[2].kind, 7u);
    EXPECT_EQ(records[2].text, kTest + "#<C:\\d");
    ASSERT_TRUE(AppendBytes(list, std::vector<std::uint8_t>(fourth.begin() + 13, fourth.end())));
    records = WaitRecords("file", 4);
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[3].kind, 8u);
    EXPECT_EQ(records[3].length, 2u);
    EXPECT_EQ(records[3].text, "x");

    // WM_COPYDATA is handled before SendMessage returns, so the line is there.
    const std::string copied = "up#>" + kHangul;
    EXPECT_EQ(SendCopy(hwnd, 0x12345678, 2, copied.c_str(), copied.size() + 1), TRUE);
    // Without a NUL the text ends with the data; with one, at the NUL.
    EXPECT_EQ(SendCopy(hwnd, 0, 8, "xyz", 3), TRUE);
    EXPECT_EQ(SendCopy(hwnd, 7, 7, "ab\0cd", 5), TRUE);
    EXPECT_EQ(SendCopy(hwnd, 9, 2, nullptr, 0), TRUE);
    const auto copies = Matching([](const TestbedEvent& e) { return e.source == "copydata"; });
    ASSERT_EQ(copies.size(), 4u);
    EXPECT_EQ(copies[0].event, "record");
    EXPECT_EQ(copies[0].kind, 2u);
    EXPECT_EQ(copies[0].length, copied.size() + 1);
    EXPECT_EQ(copies[0].text, copied);
    EXPECT_EQ(copies[0].wparam, 0x12345678u);
    EXPECT_EQ(copies[1].text, "xyz");
    EXPECT_EQ(copies[1].length, 3u);
    EXPECT_EQ(copies[1].wparam, 0u);
    EXPECT_EQ(copies[2].text, "ab");
    EXPECT_EQ(copies[2].length, 5u);
    EXPECT_EQ(copies[2].kind, 7u);
    EXPECT_EQ(copies[3].text, "");
    EXPECT_EQ(copies[3].length, 0u);

    CloseClient(kUpClass, "TARVOSKUp.exe");
    // The readable copies are UTF-8 converted from code page 949.
    const std::string raw = ReadAll(log_);
    EXPECT_NE(raw.find("\"text\":\"up#>" + kHangulUtf8 + "\""), std::string::npos);
    ExpectEveryLineParses();
    DeleteFileA(list.c_str());
}

TEST_F(TestbedClients, DownloadClientStartsAgainWhenTheListFileIsReplaced) {
    const std::string list = dir_ + "TARVOSK_Download_List";
    DeleteFileA(list.c_str());
    const std::string params = "weblink id pw " + trv::EncodeBlanks(list);
    Start("TARVOSKDown.exe", params);
    ASSERT_NE(WaitWindow(kDownClass), nullptr);
    EXPECT_EQ(WaitStart("TARVOSKDown.exe").args,
              (std::vector<std::string>{"weblink", "id", "pw", list}));

    ASSERT_TRUE(AppendRecord(list, trv::kJobWebLink, "http://example.test/a b"));
    ASSERT_EQ(WaitRecords("file", 1).size(), 1u);

    // A shorter file in its place is read from its start.
    ASSERT_TRUE(DeleteFileA(list.c_str()));
    Sleep(300);
    ASSERT_TRUE(AppendRecord(list, trv::kJobDownload, "9"));
    auto records = WaitRecords("file", 2);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].kind, 7u);
    EXPECT_EQ(records[1].text, "9");

    // Cut short in place (same file) and written again: read from its start.
    {
        HANDLE f = CreateFileA(list.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(f, INVALID_HANDLE_VALUE);
        CloseHandle(f);
    }
    Sleep(300);
    ASSERT_TRUE(AppendRecord(list, trv::kJobDownload, "8"));
    records = WaitRecords("file", 3);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[2].text, "8");

    // Replaced between two polls by a longer file: still read from its start.
    const std::string longer(200, 'L');
    std::vector<std::uint8_t> fresh = trv::BuildJobRecord(7, longer, 0);
    const std::string side = dir_ + "side";
    {
        std::ofstream out(side, std::ios::binary);
        out.write(reinterpret_cast<const char*>(fresh.data()), fresh.size());
    }
    ASSERT_TRUE(MoveFileExA(side.c_str(), list.c_str(), MOVEFILE_REPLACE_EXISTING));
    records = WaitRecords("file", 4);
    Sleep(300);  // later polls must not take anything twice
    records = Matching([](const TestbedEvent& e) { return e.event == "record"; });
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[3].text, longer);

    CloseClient(kDownClass, "TARVOSKDown.exe");
    ExpectEveryLineParses();
    DeleteFileA(list.c_str());
}

TEST_F(TestbedClients, ExplorerTakesIdAndPasswordOnly) {
    const std::string params = kUser + " " + kHangul;
    Start("Explorer.exe", params);
    ASSERT_NE(WaitWindow(kExplorerClass), nullptr);
    const TestbedEvent start = WaitStart("Explorer.exe");
    EXPECT_EQ(start.params, params);
    EXPECT_EQ(start.args, (std::vector<std::string>{kUser, kHangul}));
    EXPECT_EQ(start.list_file, "");
    CloseClient(kExplorerClass, "Explorer.exe");
    ExpectEveryLineParses();
}

TEST_F(TestbedClients, MissingValuesFallBackToTheDefaultListFile) {
    const std::string list = TempDir() + "TARVOSK_Download_List";
    DeleteFileA(list.c_str());
    Start("TARVOSKDown.exe", "bbs onlyid");
    Start("Explorer.exe", "");
    ASSERT_NE(WaitWindow(kDownClass), nullptr);
    ASSERT_NE(WaitWindow(kExplorerClass), nullptr);

    const TestbedEvent down = WaitStart("TARVOSKDown.exe");
    EXPECT_EQ(down.args, (std::vector<std::string>{"bbs", "onlyid"}));
    EXPECT_EQ(down.list_file, list);
    const TestbedEvent explorer = WaitStart("Explorer.exe");
    EXPECT_TRUE(explorer.args.empty());
    EXPECT_EQ(explorer.params, "");
    const std::string raw = ReadAll(log_);
    EXPECT_NE(raw.find("\"pw\":null"), std::string::npos) << raw;

    ASSERT_TRUE(AppendRecord(list, trv::kJobDownload, "1#<C:\\x"));
    WaitRecords("file", 1);
    Sleep(300);
    const auto records = WaitRecords("file", 1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].list_file, list);
    EXPECT_EQ(records[0].program, "TARVOSKDown.exe");

    CloseClient(kDownClass, "TARVOSKDown.exe");
    CloseClient(kExplorerClass, "Explorer.exe");
    ExpectEveryLineParses();
    DeleteFileA(list.c_str());
}

TEST_F(TestbedClients, RemoveListDeletesTheFileAfterTakingItsRecords) {
    SetEnvironmentVariableA("TRV_TESTBED_REMOVE_LIST", "1");
    const std::string list = dir_ + "TARVOSK_Upload_List";
    DeleteFileA(list.c_str());
    // Waiting before the program starts: taken at once.
    ASSERT_TRUE(AppendRecord(list, trv::kJobUpload, "early"));
    Start("TARVOSKUp.exe", "bbs id pw " + trv::EncodeBlanks(list));
    ASSERT_NE(WaitWindow(kUpClass), nullptr);
    auto records = WaitRecords("file", 1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text, "early");
    EXPECT_TRUE(WaitUntil([&] { return !FileExists(list); }, 3000));

    ASSERT_TRUE(AppendRecord(list, trv::kJobUpload, "later"));
    records = WaitRecords("file", 2);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].text, "later");
    EXPECT_TRUE(WaitUntil([&] { return !FileExists(list); }, 3000));
    CloseClient(kUpClass, "TARVOSKUp.exe");
    ExpectEveryLineParses();
}

TEST_F(TestbedClients, NoWindowNeverShowsOneAndEndsAfterItsLifetime) {
    SetEnvironmentVariableA("TRV_TESTBED_NO_WINDOW", "1");
    SetEnvironmentVariableA("TRV_TESTBED_LIFETIME_MS", "1500");
    Start("TARVOSKDown.exe", "bbs id pw C:\\nowhere");
    const TestbedEvent start = WaitStart("TARVOSKDown.exe");
    ASSERT_EQ(start.event, "start");
    const auto exits = WaitEvents(
        [&](const TestbedEvent& e) {
            EXPECT_EQ(FindWindowA(kDownClass, nullptr), nullptr);
            return e.event == "exit";
        },
        1, 8000);
    ASSERT_EQ(exits.size(), 1u);
    EXPECT_EQ(exits[0].pid, start.pid);
    EXPECT_TRUE(Matching([](const TestbedEvent& e) { return e.event == "window"; }).empty());
    ExpectEveryLineParses();
}

TEST_F(TestbedClients, HoldListKeepsOthersOutForAWhile) {
    SetEnvironmentVariableA("TRV_TESTBED_HOLD_LIST_MS", "1500");
    const std::string list = dir_ + "held list";
    DeleteFileA(list.c_str());
    Start("TARVOSKUp.exe", "bbs id pw " + trv::EncodeBlanks(list));
    ASSERT_NE(WaitWindow(kUpClass), nullptr);
    const DWORD found = GetTickCount();

    HANDLE f = CreateFileA(list.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD err = GetLastError();
    ASSERT_EQ(f, INVALID_HANDLE_VALUE);
    EXPECT_EQ(err, static_cast<DWORD>(ERROR_SHARING_VIOLATION));

    // Released by the program's timer, after which it reads the file again.
    ASSERT_TRUE(WaitUntil(
        [&] {
            f = CreateFileA(list.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
            return f != INVALID_HANDLE_VALUE;
        },
        8000));
    CloseHandle(f);
    EXPECT_GE(GetTickCount() - found, 1000u);
    EXPECT_EQ(Matching([](const TestbedEvent& e) { return e.event == "hold"; }).size(), 1u);

    ASSERT_TRUE(AppendRecord(list, trv::kJobUpload, "after hold"));
    const auto records = WaitRecords("file", 1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text, "after hold");
    CloseClient(kUpClass, "TARVOSKUp.exe");
    ExpectEveryLineParses();
    DeleteFileA(list.c_str());
}

TEST_F(TestbedClients, StartDelayHoldsTheWindowBack) {
    SetEnvironmentVariableA("TRV_TESTBED_START_DELAY_MS", "1500");
    const DWORD started = GetTickCount();
    Start("Explorer.exe", "id pw");
    WaitStart("Explorer.exe");
    EXPECT_EQ(FindWindowA(kExplorerClass, nullptr), nullptr);
    ASSERT_NE(WaitWindow(kExplorerClass), nullptr);
    EXPECT_GE(GetTickCount() - started, 1400u);
    CloseClient(kExplorerClass, "Explorer.exe");
}

TEST_F(TestbedClients, LifetimeEndsAForgottenClient) {
    SetEnvironmentVariableA("TRV_TESTBED_LIFETIME_MS", "1000");
    Start("TARVOSKUp.exe", "bbs id pw C:\\nowhere");
    ASSERT_NE(WaitWindow(kUpClass), nullptr);
    EXPECT_TRUE(WaitUntil([] { return FindWindowA(kUpClass, nullptr) == nullptr; }, 8000));
    const auto exits = WaitEvents([](const TestbedEvent& e) { return e.event == "exit"; }, 1);
    ASSERT_EQ(exits.size(), 1u);
    EXPECT_NE(ReadAll(log_).find("\"reason\":\"lifetime\""), std::string::npos);
}

TEST_F(TestbedClients, DamagedListFileIsSkippedNotWaitedFor) {
    const std::string list = dir_ + "damaged";
    DeleteFileA(list.c_str());
    Start("TARVOSKUp.exe", "bbs id pw " + trv::EncodeBlanks(list));
    ASSERT_NE(WaitWindow(kUpClass), nullptr);
    auto bad = [](const TestbedEvent& e) { return e.event == "bad_record"; };

    // A head claiming 4 GiB of text: nothing will ever complete it.
    std::vector<std::uint8_t> head = {2, 0, 0, 0, 0xF0, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 'a'};
    ASSERT_TRUE(AppendBytes(list, head));
    ASSERT_EQ(WaitEvents(bad, 1).size(), 1u);
    ASSERT_TRUE(AppendRecord(list, trv::kJobUpload, "good"));
    auto records = WaitRecords("file", 1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text, "good");

    // A zero length, which no record can have.
    head = {2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_TRUE(AppendBytes(list, head));
    ASSERT_EQ(WaitEvents(bad, 2).size(), 2u);
    ASSERT_TRUE(AppendRecord(list, trv::kJobUpload, "good again"));
    records = WaitRecords("file", 2);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].text, "good again");
    CloseClient(kUpClass, "TARVOSKUp.exe");
    ExpectEveryLineParses();
    DeleteFileA(list.c_str());
}

TEST_F(TestbedClients, ProgramsStartedTogetherWriteWholeLines) {
    // Both list clients find a long list at start and log it at the same time.
    const std::string upList = dir_ + "together up", downList = dir_ + "together down";
    for (const std::string* list : {&upList, &downList}) {
        std::vector<std::uint8_t> bytes;
        for (int i = 0; i < 50; ++i) {
            const auto r = trv::BuildJobRecord(2, kTest + std::to_string(i), i);
            bytes.insert(bytes.end(), r.begin(), r.end());
        }
        DeleteFileA(list->c_str());
        ASSERT_TRUE(AppendBytes(*list, bytes));
    }
    for (int round = 0; round < 2; ++round) {
        Start("TARVOSKUp.exe", "bbs a b " + trv::EncodeBlanks(upList));
        Start("TARVOSKDown.exe", "bbs a b " + trv::EncodeBlanks(downList));
        Start("Explorer.exe", "a b");
        for (const char* cls : {kUpClass, kDownClass, kExplorerClass}) {
            HWND hwnd = WaitWindow(cls);
            ASSERT_NE(hwnd, nullptr) << cls;
            for (int i = 0; i < 20; ++i) SendCopy(hwnd, i, 2, kTest.c_str(), kTest.size() + 1);
        }
        ASSERT_EQ(WaitRecords("file", 100 * (round + 1)).size(), 100u * (round + 1));
        for (const char* cls : {kUpClass, kDownClass, kExplorerClass}) {
            HWND hwnd = FindWindowA(cls, nullptr);
            PostMessageA(hwnd, WM_CLOSE, 0, 0);
            EXPECT_TRUE(WaitUntil([&] { return !IsWindow(hwnd); }, 5000));
        }
    }
    EXPECT_EQ(WaitRecords("copydata", 120).size(), 120u);
    EXPECT_EQ(WaitRecords("file", 200).size(), 200u);
    DeleteFileA(upList.c_str());
    DeleteFileA(downList.c_str());
    EXPECT_EQ(WaitEvents([](const TestbedEvent& e) { return e.event == "exit"; }, 6).size(), 6u);
    ExpectEveryLineParses();
}

// The reader on its own, with lines no program writes.
TEST(TestbedLogReader, SkipsMalformedLinesAndUnknownFields) {
    const std::string text =
        "{\"program\":\"A.exe\",\"pid\":12,\"event\":\"record\",\"source\":\"file\",\"kind\":7,"
        "\"length\":3,\"text\":\"??\",\"text_hex\":\"c7d1b1db\",\"extra\":{\"x\":[1,2.5,{\"y\":null}]},"
        "\"flag\":true,\"neg\":-3,\"big\":1e9}\n"
        "not json\n"
        "{\"event\":\"record\",\"text_hex\":\"abc\"}\n"                 // odd hex
        "{\"event\":\"record\",\"text_hex\":\"zz\"}\n"                  // not hex
        "{\"event\":\"record\",\"kind\":\"7\"}\n"                       // wrong type
        "{\"event\":\"record\",\"kind\":4294967296}\n"                  // too big for 32 bits
        "{\"event\":\"record\",\"wparam\":18446744073709551616}\n"      // too big for 64 bits
        "{\"event\":\"record\",\"text\":\"unterminated}\n"
        "{\"event\":\"record\"} trailing\n"
        "{\"program\":\"B.exe\"}\n"                                     // no event
        "[\"event\",\"start\"]\n"
        "{\"event\":\"start\",\"params\":\"a\\\"b\\\\c\\u0001\\ud55c\",\"args\":[\"x\",\"\"],"
        "\"args_hex\":[\"00ff\",\"\"],\"wparam\":18446744073709551615,\"pw\":null}\r\n"
        + std::string(100, '[') + "\n"
        "{\"event\":\"exit\"}";  // no newline: may still be being written
    const auto events = ParseTestbedLog(text);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].program, "A.exe");
    EXPECT_EQ(events[0].pid, 12u);
    EXPECT_EQ(events[0].kind, 7u);
    EXPECT_EQ(events[0].length, 3u);
    EXPECT_EQ(events[0].source, "file");
    EXPECT_EQ(events[0].text, kHangul);
    EXPECT_EQ(events[1].event, "start");
    // Without a "_hex" copy the JSON text stands, escapes decoded.
    EXPECT_EQ(events[1].params, "a\"b\\c\x01" "\xED\x95\x9C");
    EXPECT_EQ(events[1].args, (std::vector<std::string>{std::string("\0\xFF", 2), ""}));
    EXPECT_EQ(events[1].wparam, UINT64_MAX);

    EXPECT_TRUE(ReadTestbedLog(TempDir() + "trv_testbed_no_such.log").empty());
}

}  // namespace
