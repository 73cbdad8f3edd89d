// The support log's decisions against the fake system: the switch, the line,
// the bound on the file's size.
#include "platform/support_log.h"

#include <gtest/gtest.h>

#include "platform/fake/support_log_fake.h"

namespace trv {
namespace {

class SupportLogTest : public ::testing::Test {
protected:
    void SetUp() override { SetSupportLog(&log); }
    void TearDown() override { SetSupportLog(nullptr); }

    void TurnOn() {
        fake.Switch(1);
        log.ReadSwitch();
    }

    FakeSupportLogSystem fake;
    SupportLog log{fake};
};

TEST_F(SupportLogTest, OnlyANonZeroDwordTurnsItOn) {
    struct Case {
        const char* what;
        std::uint32_t type;
        std::vector<std::uint8_t> bytes;
        bool on;
    };
    const Case cases[] = {
        {"no value", 0, {}, false},
        {"DWORD 0", kRegDword, {0, 0, 0, 0}, false},
        {"DWORD 1", kRegDword, {1, 0, 0, 0}, true},
        {"DWORD 0x100", kRegDword, {0, 1, 0, 0}, true},
        {"string \"1\"", kRegSz, {'1', 0}, false},
        {"short DWORD", kRegDword, {1, 0}, false},
    };
    for (const Case& c : cases) {
        fake.file.clear();
        fake.registry = FakeRegistry();
        if (c.type)
            fake.registry.Put(kHKeyCurrentUser, kSupportLogKey, kSupportLogValue, c.type, c.bytes);
        log.ReadSwitch();
        EXPECT_EQ(log.Enabled(), c.on) << c.what;
        { CallNote("UpLoadEnd").Done(1); }
        EXPECT_EQ(fake.file.empty(), !c.on) << c.what;
    }
}

TEST_F(SupportLogTest, OneLinePerCallWithItsOutcomeAndReasons) {
    TurnOn();
    {
        CallNote outer("UpLoadEnd");
        NoteReason("client gate: the install/update check ended with code", 2);
        {
            // A call made from inside another (an event handler) has its own line.
            CallNote inner("CheckInstall");
            inner.Done(0);
        }
        NoteReason("job list empty");
        outer.Done(1);
    }
    { CallNote("AllowPopUp").Done(static_cast<long>(0x80070005u)); }
    { CallNote("GetIt").Done(static_cast<long>(0x80004003u)); }
    { CallNote unfinished("LauncherWebLink"); }
    // From a thread with no call in progress, the reason stands alone.
    NoteReason("installer refused: trust outcome", 3);

    const std::string s = fake.stamp + " ";
    EXPECT_EQ(fake.file, s + "CheckInstall S_OK\r\n" + s +
                             "UpLoadEnd S_FALSE: client gate: the install/update check ended "
                             "with code 2; job list empty\r\n" +
                             s + "AllowPopUp E_ACCESSDENIED\r\n" + s + "GetIt 0x80004003\r\n" +
                             s + "LauncherWebLink (no result)\r\n" + s +
                             "installer refused: trust outcome 3\r\n");
}

TEST_F(SupportLogTest, LinesStayLinesAndShort) {
    TurnOn();
    fake.stamp = "t";
    {
        CallNote note("UpLoadEnd");
        NoteReason("a\r\nb\x01\xB1\xE8");
        NoteReason(std::string(2 * kSupportLineMax, 'x').c_str());
        note.Done(1);
    }
    ASSERT_EQ(fake.file.size(), kSupportLineMax + 2);
    EXPECT_EQ(fake.file.compare(0, 27, "t UpLoadEnd S_FALSE: a??b??"), 0) << fake.file;
    EXPECT_EQ(fake.file.find_first_of("\r\n"), kSupportLineMax);
}

TEST_F(SupportLogTest, DeleteByteCannotRewriteWhatALineShows) {
    TurnOn();
    fake.stamp = "t";
    {
        CallNote note("UpLoadEnd");
        NoteReason("a\x7F" "b");
        note.Done(1);
    }
    NoteReason("\x7F");
    EXPECT_EQ(fake.file, "t UpLoadEnd S_FALSE: a?b\r\nt ?\r\n");
}

TEST_F(SupportLogTest, FileIsEmptiedBeforeItWouldPassTheBound) {
    TurnOn();
    const std::string line = fake.stamp + " CheckInstall S_OK\r\n";
    fake.file.assign(kSupportLogLimit - line.size(), '.');
    { CallNote("CheckInstall").Done(0); }
    EXPECT_EQ(fake.file.size(), kSupportLogLimit);  // fits exactly: kept
    EXPECT_EQ(fake.empties, 0);
    { CallNote("CheckInstall").Done(0); }
    EXPECT_EQ(fake.empties, 1);
    EXPECT_EQ(fake.file, line);

    // A log that cannot be opened costs the call nothing.
    fake.openFails = true;
    { CallNote("CheckInstall").Done(0); }
    EXPECT_EQ(fake.file, line);
}

}  // namespace
}  // namespace trv
