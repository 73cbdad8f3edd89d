#include "server/registrar.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

namespace trv {
namespace {

// Keys by path, each with its named values ("" is the default value).
class MemoryRegistry : public RegistryEditor {
public:
    std::map<std::string, std::map<std::string, std::string>> keys;
    std::set<std::string> failingKeys;  // CreateKey fails here
    int writes = 0;

    long CreateKey(const std::string& path) override {
        if (failingKeys.count(path)) return static_cast<long>(0x80070005);
        ++writes;
        // Parents come into being with their child, as in a real registry.
        for (std::size_t pos = path.find('\\'); pos != std::string::npos;
             pos = path.find('\\', pos + 1))
            keys[path.substr(0, pos)];
        keys[path];
        return 0;
    }
    long SetString(const std::string& path, const std::string& name,
                   const std::string& text) override {
        if (!keys.count(path)) return kNotFound;
        ++writes;
        keys[path][name] = text;
        return 0;
    }
    long SetNumber(const std::string& path, const std::string& name,
                   std::uint32_t number) override {
        return SetString(path, name, "#" + std::to_string(number));
    }
    long DeleteValue(const std::string& path, const std::string& name) override {
        auto key = keys.find(path);
        if (key == keys.end() || !key->second.erase(name)) return kNotFound;
        return 0;
    }
    long DeleteTree(const std::string& path) override {
        if (!keys.count(path)) return kNotFound;
        for (auto it = keys.begin(); it != keys.end();) {
            if (it->first == path || it->first.rfind(path + "\\", 0) == 0)
                it = keys.erase(it);
            else
                ++it;
        }
        return 0;
    }
    long DeleteKey(const std::string& path) override {
        if (!keys.count(path)) return kNotFound;
        if (HasSubkeys(path)) return static_cast<long>(0x80070005);
        keys.erase(path);
        return 0;
    }
    bool KeyExists(const std::string& path) override { return keys.count(path) != 0; }
    bool HasSubkeys(const std::string& path) override {
        auto it = keys.upper_bound(path);
        return it != keys.end() && it->first.rfind(path + "\\", 0) == 0;
    }
};

const char kClassScript[] = R"(HKCR
{
    Web.Prog.1 = s 'Control 5'
    {
        CLSID = s '{1111}'
    }
    NoRemove CLSID
    {
        ForceRemove '{1111}' = s 'Control 5'
        {
            ForceRemove 'Programmable'
            InprocServer32 = s '%MODULE%'
            {
                val ThreadingModel = s 'Apartment'
            }
            val AppID = s '%APPID%'
            Flags = d '7'
        }
    }
    NoRemove AppID
    {
        'File.DLL'
        {
            val AppID = s '%AppId%'
        }
    }
})";

const Replacements kReplacements = {{"APPID", "{AAAA}"}, {"Module", "C:\\it''s\\x.dll"}};

TEST(RegistrarScript, RegistersKeysValuesAndDefaults) {
    MemoryRegistry reg;
    ASSERT_EQ(RunScript(kClassScript, kReplacements, reg, true), 0);
    EXPECT_EQ(reg.keys["Web.Prog.1"][""], "Control 5");
    EXPECT_EQ(reg.keys["Web.Prog.1\\CLSID"][""], "{1111}");
    EXPECT_EQ(reg.keys["CLSID\\{1111}"][""], "Control 5");
    EXPECT_EQ(reg.keys["CLSID\\{1111}"]["AppID"], "{AAAA}");
    EXPECT_TRUE(reg.keys["CLSID\\{1111}\\Programmable"].empty());
    // The doubled quote is one quote in the stored path.
    EXPECT_EQ(reg.keys["CLSID\\{1111}\\InprocServer32"][""], "C:\\it's\\x.dll");
    EXPECT_EQ(reg.keys["CLSID\\{1111}\\InprocServer32"]["ThreadingModel"], "Apartment");
    EXPECT_EQ(reg.keys["CLSID\\{1111}\\Flags"][""], "#7");
    EXPECT_EQ(reg.keys["AppID\\File.DLL"]["AppID"], "{AAAA}");  // names match in any case
}

TEST(RegistrarScript, ForceRemoveReplacesTheKeyWhole) {
    MemoryRegistry reg;
    ASSERT_EQ(RunScript(kClassScript, kReplacements, reg, true), 0);
    reg.keys["CLSID\\{1111}"]["HandAdded"] = "x";
    reg.keys["CLSID\\{1111}\\Stale"];
    reg.keys["Web.Prog.1"]["Kept"] = "y";
    const auto before = reg.keys;
    ASSERT_EQ(RunScript(kClassScript, kReplacements, reg, true), 0);
    EXPECT_EQ(reg.keys["CLSID\\{1111}"].count("HandAdded"), 0u);
    EXPECT_EQ(reg.keys.count("CLSID\\{1111}\\Stale"), 0u);
    // A plain key is only written over.
    EXPECT_EQ(reg.keys["Web.Prog.1"]["Kept"], "y");
}

TEST(RegistrarScript, UnregisterKeepsNoRemoveAndForeignSubkeys) {
    MemoryRegistry reg;
    reg.keys["CLSID\\{OTHER}"];
    ASSERT_EQ(RunScript(kClassScript, kReplacements, reg, true), 0);
    reg.keys["AppID\\File.DLL\\Foreign"];
    reg.keys["Web.Prog.1"]["Extra"] = "z";
    ASSERT_EQ(RunScript(kClassScript, kReplacements, reg, false), 0);
    EXPECT_TRUE(reg.KeyExists("CLSID"));
    EXPECT_TRUE(reg.KeyExists("AppID"));
    EXPECT_TRUE(reg.KeyExists("CLSID\\{OTHER}"));
    EXPECT_FALSE(reg.KeyExists("CLSID\\{1111}"));
    EXPECT_FALSE(reg.KeyExists("Web.Prog.1\\CLSID"));
    // A key without subkeys goes even with a value no script names.
    EXPECT_FALSE(reg.KeyExists("Web.Prog.1"));
    // A key that still holds a subkey stays, without the script's values.
    ASSERT_TRUE(reg.KeyExists("AppID\\File.DLL"));
    EXPECT_EQ(reg.keys["AppID\\File.DLL"].count("AppID"), 0u);
    // Unregistering again finds nothing left to do.
    EXPECT_EQ(RunScript(kClassScript, kReplacements, reg, false), 0);
}

TEST(RegistrarScript, FirstFailureStopsAndEarlierWritesStay) {
    MemoryRegistry reg;
    reg.failingKeys.insert("CLSID\\{1111}\\InprocServer32");
    EXPECT_EQ(RunScript(kClassScript, kReplacements, reg, true), static_cast<long>(0x80070005));
    EXPECT_TRUE(reg.KeyExists("Web.Prog.1\\CLSID"));
    EXPECT_TRUE(reg.KeyExists("CLSID\\{1111}\\Programmable"));
    EXPECT_FALSE(reg.KeyExists("AppID\\File.DLL"));
}

TEST(RegistrarExpand, ReplacesMarksAndRefusesUnknownOnes) {
    std::string out;
    ASSERT_TRUE(ExpandScript("a %module% b %APPID% %% c", kReplacements, out));
    EXPECT_EQ(out, "a C:\\it''s\\x.dll b {AAAA} % c");
    EXPECT_FALSE(ExpandScript("x %UNKNOWN% y", kReplacements, out));
    EXPECT_FALSE(ExpandScript("x %MODULE y", kReplacements, out));
    // Replaced text is not expanded again.
    ASSERT_TRUE(ExpandScript("%M%", {{"M", "%APPID%"}}, out));
    EXPECT_EQ(out, "%APPID%");
}

TEST(RegistrarExpand, QuotingDoublesEverySingleQuote) {
    EXPECT_EQ(QuoteForScript("C:\\a b\\x.dll"), "C:\\a b\\x.dll");
    EXPECT_EQ(QuoteForScript("'it''s'"), "''it''''s''");
    // Korean text in code page 949 passes byte for byte.
    const std::string korean = "C:\\\xC7\xD1\xB1\xDB\\x.dll";
    EXPECT_EQ(QuoteForScript(korean), korean);

    MemoryRegistry reg;
    const std::string script = "HKCR { K = s '%MODULE%' }";
    for (const std::string& path : {std::string("C:\\q'uote\\x.dll"), std::string("C:\\''\\x"),
                                   std::string("C:\\%d\\x"), korean}) {
        ASSERT_EQ(RunScript(script, {{"MODULE", QuoteForScript(path)}}, reg, true), 0) << path;
        EXPECT_EQ(reg.keys["K"][""], path);
    }
}

TEST(RegistrarParse, RefusesMalformedScriptsWithoutWriting) {
    const char* bad[] = {
        "",
        "HKLM { K }",
        "HKCR { K = s 'unclosed }",
        "HKCR { K { }",
        "HKCR { K } }",
        "HKCR { val V = s 'x' }",      // a value outside any key
        "HKCR { K = x 'type' }",
        "HKCR { K = d 'nine' }",
        "HKCR { K = d '99999999999' }",
        "HKCR { K = s }",
        "HKCR { 'a\\b' }",             // a key name holding a separator
        "HKCR { '' }",
        "HKCR { K } trailing",
    };
    for (const char* script : bad) {
        MemoryRegistry reg;
        EXPECT_EQ(RunScript(script, {}, reg, true), kRegistrarSyntaxError) << script;
        EXPECT_EQ(reg.writes, 0) << script;
    }
}

TEST(RegistrarParse, RefusesNestingBeyondTheLimitWithoutOverflow) {
    std::string script = "HKCR {";
    for (int i = 0; i < 100000; ++i) script += " K {";
    for (int i = 0; i < 100000; ++i) script += " }";
    script += " }";
    MemoryRegistry reg;
    EXPECT_EQ(RunScript(script, {}, reg, true), kRegistrarSyntaxError);
}

TEST(RegistrarParse, ReadsNestingAndMarks) {
    std::vector<RegistrarKey> keys;
    ASSERT_TRUE(ParseScript("hkey_classes_root { noremove A { forceremove 'B c' = s 'x''y' "
                            "{ val N = s '' } C } }",
                            keys));
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].mark, KeyMark::NoRemove);
    ASSERT_EQ(keys[0].children.size(), 2u);
    const RegistrarKey& b = keys[0].children[0];
    EXPECT_EQ(b.name, "B c");
    EXPECT_EQ(b.mark, KeyMark::ForceRemove);
    ASSERT_EQ(b.values.size(), 2u);
    EXPECT_EQ(b.values[0].name, "");
    EXPECT_EQ(b.values[0].text, "x'y");
    EXPECT_EQ(b.values[1].name, "N");
    EXPECT_EQ(b.values[1].text, "");
    EXPECT_EQ(keys[0].children[1].name, "C");
    EXPECT_EQ(keys[0].children[1].mark, KeyMark::Normal);
}

}  // namespace
}  // namespace trv
