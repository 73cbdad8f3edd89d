#include "platform/registry.h"

#include <gtest/gtest.h>

#include "platform/fake/registry_fake.h"
#include "update/popup.h"

namespace trv {
namespace {

constexpr char kKey[] = "Software\\TARVOSK";

std::vector<std::uint8_t> Bytes(const std::string& text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

class RegistryHelper : public ::testing::Test {
protected:
    void TearDown() override {
        // Every operation closes its key, frees its data and destroys its heap.
        EXPECT_EQ(fake.openKeys(), 0u);
        EXPECT_EQ(fake.liveHeaps(), 0u);
        EXPECT_EQ(fake.liveBlocks(), 0u);
    }
    FakeRegistry fake;
    CRegistry registry{fake, kHKeyCurrentUser};
};

TEST_F(RegistryHelper, WriteStringStoresTextWithItsNulAndReadsBack) {
    ASSERT_TRUE(registry.WriteString(kKey, "strWebPath", "C:\\A\\\xB9\xAE\xBC\xAD"));
    const auto* value = fake.Find(kHKeyCurrentUser, kKey, "strWebPath");
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->type, kRegSz);
    EXPECT_EQ(value->bytes, Bytes(std::string("C:\\A\\\xB9\xAE\xBC\xAD\0", 10)));

    std::string out = "old";
    ASSERT_TRUE(registry.ReadString(kKey, "strWebPath", out));
    EXPECT_EQ(out, "C:\\A\\\xB9\xAE\xBC\xAD");
    // Keys are created for writing and opened for reading with exactly these rights.
    EXPECT_EQ(fake.accessRequested, (std::vector<std::uint32_t>{0x20006, 0x20019}));
}

TEST_F(RegistryHelper, NullTextWritesEmptyStringOfSizeOne) {
    ASSERT_TRUE(registry.WriteString(kKey, "v", nullptr));
    const auto* value = fake.Find(kHKeyCurrentUser, kKey, "v");
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->type, kRegSz);
    EXPECT_EQ(value->bytes, std::vector<std::uint8_t>{0});
    std::string out = "old";
    EXPECT_TRUE(registry.ReadString(kKey, "v", out));
    EXPECT_EQ(out, "");
}

TEST_F(RegistryHelper, NullValueNameIsTheDefaultValue) {
    ASSERT_TRUE(registry.WriteString(kKey, nullptr, "d"));
    ASSERT_NE(fake.Find(kHKeyCurrentUser, kKey, ""), nullptr);
    std::string out;
    EXPECT_TRUE(registry.ReadString(kKey, "", out));
    EXPECT_EQ(out, "d");
}

TEST_F(RegistryHelper, ReadFailuresLeaveOutputUnchanged) {
    fake.Put(kHKeyCurrentUser, kKey, "dw", kRegDword, {1, 0, 0, 0});
    fake.Put(kHKeyCurrentUser, kKey, "bin", 3, Bytes("abc"));
    std::string out = "kept";
    EXPECT_FALSE(registry.ReadString(kKey, "dw", out));
    EXPECT_FALSE(registry.ReadString(kKey, "bin", out));
    EXPECT_FALSE(registry.ReadString(kKey, "missing", out));
    EXPECT_FALSE(registry.ReadString("Software\\Nowhere", "dw", out));
    EXPECT_EQ(out, "kept");
}

TEST_F(RegistryHelper, ReadsEveryStringTypeAndStopsAtFirstNul) {
    fake.Put(kHKeyCurrentUser, kKey, "sz", kRegSz, Bytes(std::string("ab\0cd", 5)));
    fake.Put(kHKeyCurrentUser, kKey, "expand", kRegExpandSz, Bytes("%TEMP%"));  // no NUL at all
    fake.Put(kHKeyCurrentUser, kKey, "link", kRegLink, Bytes(std::string("L\0", 2)));
    fake.Put(kHKeyCurrentUser, kKey, "empty", kRegSz, {});
    std::string out;
    EXPECT_TRUE(registry.ReadString(kKey, "sz", out));
    EXPECT_EQ(out, "ab");
    EXPECT_TRUE(registry.ReadString(kKey, "expand", out));
    EXPECT_EQ(out, "%TEMP%");
    EXPECT_TRUE(registry.ReadString(kKey, "link", out));
    EXPECT_EQ(out, "L");
    out = "x";
    EXPECT_TRUE(registry.ReadString(kKey, "empty", out));
    EXPECT_EQ(out, "");
}

TEST_F(RegistryHelper, ValueGrowingBetweenSizeAndReadFailsCleanly) {
    fake.PutString(kHKeyCurrentUser, kKey, "v", "abc");
    fake.valueGrowsOnRead = 8;
    std::string out = "kept";
    EXPECT_FALSE(registry.ReadString(kKey, "v", out));
    EXPECT_EQ(out, "kept");
}

TEST_F(RegistryHelper, WriteDwordStoresFourBytes) {
    const std::uint32_t value = 0x11223344;
    ASSERT_TRUE(registry.WriteDword(kKey, "n", &value));
    const auto* stored = fake.Find(kHKeyCurrentUser, kKey, "n");
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(stored->type, kRegDword);
    EXPECT_EQ(stored->bytes, (std::vector<std::uint8_t>{0x44, 0x33, 0x22, 0x11}));
    EXPECT_FALSE(registry.WriteDword(kKey, "n", nullptr));
}

TEST_F(RegistryHelper, WriteFailuresReturnFalse) {
    fake.createFails = true;
    EXPECT_FALSE(registry.WriteString(kKey, "v", "x"));
    const std::uint32_t zero = 0;
    EXPECT_FALSE(registry.WriteDword(kKey, "v", &zero));
    fake.createFails = false;
    fake.setFails = true;
    EXPECT_FALSE(registry.WriteString(kKey, "v", "x"));
    fake.setFails = false;
    fake.heapFails = true;
    EXPECT_FALSE(registry.WriteString(kKey, "v", "x"));
    std::string out = "kept";
    EXPECT_FALSE(registry.ReadString(kKey, "v", out));
    EXPECT_EQ(out, "kept");
    EXPECT_EQ(fake.Find(kHKeyCurrentUser, kKey, "v"), nullptr);
}

TEST_F(RegistryHelper, AllowPopUpWritesDwordZeroUnderAllowKey) {
    const std::string key = "Software\\Microsoft\\Internet Explorer\\New Windows\\Allow";
    EXPECT_TRUE(AllowPopUp(fake, "www.example.com"));
    const auto* site = fake.Find(kHKeyCurrentUser, key, "www.example.com");
    ASSERT_NE(site, nullptr);
    EXPECT_EQ(site->type, kRegDword);
    EXPECT_EQ(site->bytes, (std::vector<std::uint8_t>{0, 0, 0, 0}));

    // An existing name, even of another type, is overwritten.
    fake.PutString(kHKeyCurrentUser, key, "old.example", "x");
    EXPECT_TRUE(AllowPopUp(fake, "old.example"));
    EXPECT_EQ(fake.Find(kHKeyCurrentUser, key, "old.example")->type, kRegDword);

    EXPECT_TRUE(AllowPopUp(fake, ""));
    const auto* unnamed = fake.Find(kHKeyCurrentUser, key, "");
    ASSERT_NE(unnamed, nullptr);
    EXPECT_EQ(unnamed->type, kRegDword);
    EXPECT_EQ(unnamed->bytes, (std::vector<std::uint8_t>{0, 0, 0, 0}));

    fake.createFails = true;
    EXPECT_FALSE(AllowPopUp(fake, "refused.example"));
}

// Any page may call AllowPopUp: only a host name reaches the browser's list.
TEST_F(RegistryHelper, AllowPopUpWritesOnlyHostNames) {
    const std::string key = "Software\\Microsoft\\Internet Explorer\\New Windows\\Allow";
    const std::string l63(63, 'a');
    const std::string longest = l63 + "." + l63 + "." + l63 + "." + std::string(61, 'd');
    const struct {
        std::string name;
        bool written;
    } cases[] = {
        {"www.example.com", true},
        {"xn--3e0b707e.kr", true},  // an internationalised name in its ASCII form
        {"192.168.0.1", true},
        {"A-1.Example", true},
        {longest, true},
        {longest + "d", false},
        {l63 + "a.kr", false},
        {"*.example.com", false},
        {"a.example;b.example", false},
        {"a b.example", false},
        {"http://a.example", false},
        {"a.example/x", false},
        {"example.com.", false},
        {".example.com", false},
        {"a..example", false},
        {"-a.example", false},
        {"a-.example", false},
        {"\xC7\xD1\xB1\xB9.kr", false},  // the same name in Korean
        {std::string("a.example\0b", 11), false},
        {std::string(16000, 'a'), false},
    };
    std::size_t accepted = 0;
    for (const auto& c : cases) {
        EXPECT_EQ(AllowPopUp(fake, c.name), c.written) << c.name;
        EXPECT_EQ(fake.Find(kHKeyCurrentUser, key, c.name) != nullptr, c.written) << c.name;
        accepted += c.written;
    }
    EXPECT_EQ(fake.writes.size(), accepted);
}

}  // namespace
}  // namespace trv
