// What packaging makes from the registrar scripts and the built module: the
// MSI's registry rows, and the version read from a version record.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "packaging/build_facts.h"
#include "packaging/msi_registry.h"
#include "server/registrar.h"

namespace trv {
namespace {

using Rows = std::vector<std::tuple<std::string, std::string, std::string>>;

struct RowsCase {
    const char* name;
    const char* script;  // the body of HKCR { ... }
    Rows registry;       // key, name, value
    std::vector<std::string> removedOnInstall;
    const char* error;  // a part of the reason, or nullptr
};

const RowsCase kRowsCases[] = {
    {"replaced whole", "ForceRemove K = s 'v' { ForceRemove P }",
     {{"K", "*", ""}, {"K", "", "v"}, {"K\\P", "*", ""}}, {"K", "K\\P"}, nullptr},
    {"never removed holds ours", "NoRemove CLSID { X = s 'x' }",
     {{"CLSID", "+", ""}, {"CLSID\\X", "", "x"}}, {}, nullptr},
    {"named values and numbers", "K { val S = s 'a' val D = d '7' val Big = d '4294967295' }",
     {{"K", "S", "a"}, {"K", "D", "#7"}, {"K", "Big", "#-1"}}, {}, nullptr},
    {"the module and a leading #", "K = s '%MODULE%,0' { val N = s '#1' }",
     {{"K", "", "[#TRVControl.DLL],0"}, {"K", "N", "##1"}}, {}, nullptr},
    {"an empty string", "K = s ''", {}, {}, "empty"},
    {"brackets", "K = s 'a[b]'", {}, {}, "brackets"},
    {"non-ASCII", "K = s '\xea\xb0\x80'", {}, {}, "ASCII"},
    {"values of a never-removed key", "NoRemove K = s 'v'", {}, {}, "never removed"},
    {"a plain key of nothing", "K", {}, {}, "no values"},
    {"a value named as a key mark", "K { val + = s 'v' }", {}, {}, "means a key"},
};

TEST(MsiRegistry, RowsWriteAndRemoveAsTheMarksSay) {
    const std::string mark = "\x01module\x01";
    for (const RowsCase& c : kRowsCases) {
        SCOPED_TRACE(c.name);
        std::string expanded;
        std::vector<RegistrarKey> keys;
        ASSERT_TRUE(ExpandScript(std::string("HKCR { ") + c.script + " }", {{"MODULE", mark}},
                                 expanded));
        ASSERT_TRUE(ParseScript(expanded, keys));
        msi::RegistryTables tables;
        std::string error;
        const bool ok = msi::AddScriptRows(keys, mark, "TRVControl.DLL", tables, error);
        if (c.error) {
            EXPECT_FALSE(ok);
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
            continue;
        }
        ASSERT_TRUE(ok) << error;
        Rows rows;
        for (const auto& row : tables.registry) rows.emplace_back(row.key, row.name, row.value);
        EXPECT_EQ(rows, c.registry);
        std::vector<std::string> removed;
        for (const auto& row : tables.remove) removed.push_back(row.key);
        EXPECT_EQ(removed, c.removedOnInstall);
    }
}

// A version record's fixed part: signature, layout, file and product versions.
std::string FixedInfo(std::uint32_t fileMs, std::uint32_t fileLs, std::uint32_t productMs,
                      std::uint32_t productLs) {
    const std::uint32_t words[13] = {0xFEEF04BD, 0x00010000, fileMs, fileLs, productMs, productLs};
    std::string bytes;
    for (std::uint32_t word : words)
        for (int i = 0; i < 4; ++i) bytes += static_cast<char>((word >> (8 * i)) & 0xFF);
    return bytes;
}

TEST(ModuleVersion, ReadsTheOneRecordWhoseVersionsAgree) {
    const std::string pad(16, '\0');
    const std::string v1005 = FixedInfo(0x00010000, 0x00000005, 0x00010000, 0x00000005);
    const struct {
        const char* name;
        std::string module;
        const char* version;  // nullptr: refused
    } cases[] = {
        {"one record", pad + v1005 + pad, "1.0.0.5"},
        {"large fields", pad + FixedInfo(0x00020003, 0x0004FFFF, 0x00020003, 0x0004FFFF), "2.3.4.65535"},
        {"none", pad + pad, nullptr},
        {"two records", pad + v1005 + v1005, nullptr},
        {"file and product differ",
         pad + FixedInfo(0x00010000, 0x00000005, 0x00010000, 0x00000004), nullptr},
    };
    for (const auto& c : cases) {
        std::string version, error;
        const bool ok = pack::ModuleVersion(c.module, version, error);
        EXPECT_EQ(ok, c.version != nullptr) << c.name << ": " << error;
        if (c.version) {
            EXPECT_EQ(version, c.version) << c.name;
        }
    }
}

}  // namespace
}  // namespace trv
