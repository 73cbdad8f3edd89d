#include "select/browse_model.h"

#include <gtest/gtest.h>

#include <iterator>
#include <set>

#include "platform/fake/browse_fake.h"
#include "platform/fake/registry_fake.h"

namespace trv {
namespace {

std::vector<std::string> Names(const BrowseModel& model) {
    std::vector<std::string> names;
    for (const auto& line : model.Listing()) names.push_back(line.name);
    return names;
}

std::string Kinds(const BrowseModel& model) {
    std::string kinds;
    for (const auto& line : model.Listing()) kinds += line.kind;
    return kinds;
}

const FolderEntry* Line(const BrowseModel& model, const std::string& name) {
    for (const auto& line : model.Listing())
        if (line.name == name) return &line;
    return nullptr;
}

class Browse : public ::testing::Test {
protected:
    std::string Remembered(const char* name) {
        const auto* value = reg.Find(kHKeyCurrentUser, "Software\\TARVOSK", name);
        if (!value || value->type != kRegSz || value->bytes.empty()) return "<none>";
        return std::string(value->bytes.begin(), value->bytes.end() - 1);
    }
    void At(const std::string& drive, const std::string& path) {
        reg.PutString(kHKeyCurrentUser, "Software\\TARVOSK", "strWebDrive", drive);
        reg.PutString(kHKeyCurrentUser, "Software\\TARVOSK", "strWebPath", path);
        model.LoadRemembered();
        model.Settle(model.FillRootList());
        model.ListFolder();
    }

    FakeBrowse fs;
    FakeRegistry reg;
    CRegistry registry{reg, kHKeyCurrentUser};
    BrowseModel model{fs, registry};
};

// --- the place list ---

TEST_F(Browse, RootListTakesFixedAndCdRomDrivesAfterDesktop) {
    fs.AddDrive('Z', 4, "net (Z:)");
    fs.AddDrive('E', 2, "usb (E:)");
    fs.AddDrive('D', kDriveCdRom, "CD (D:)");
    fs.AddDrive('C', kDriveFixed, "Local (C:)");
    fs.AddDrive('R', 6, "ram (R:)");
    fs.AddDrive('X', 0, "unknown");
    const auto roots = model.FillRootList();
    ASSERT_EQ(roots.size(), 3u);
    EXPECT_EQ(roots[0].text, "바탕 화면");
    EXPECT_EQ(roots[0].rootPath, "C:\\Users\\me\\Desktop");
    EXPECT_TRUE(roots[0].desktop);
    EXPECT_EQ(roots[1].text, "Local (C:)");
    EXPECT_EQ(roots[1].rootPath, "C:\\");
    EXPECT_FALSE(roots[1].desktop);
    EXPECT_EQ(roots[2].text, "CD (D:)");
    EXPECT_EQ(roots[2].rootPath, "D:\\");
}

TEST_F(Browse, RootListWithoutAcceptedDriveIsEmptyWithoutDesktop) {
    fs.AddDrive('E', 2, "usb");
    fs.AddDrive('Z', 4, "net");
    EXPECT_TRUE(model.FillRootList().empty());
    fs.drives.clear();
    EXPECT_TRUE(model.FillRootList().empty());
}

TEST_F(Browse, RootListSkipsUnnamedDrivesAndDesktopWhenSystemHasNone) {
    fs.AddDrive('C', kDriveFixed, "C", false);
    fs.AddDrive('D', kDriveFixed, "Data (D:)");
    fs.hasDesktop = false;
    auto roots = model.FillRootList();
    ASSERT_EQ(roots.size(), 1u);
    EXPECT_EQ(roots[0].rootPath, "D:\\");

    fs.hasDesktop = true;
    fs.desktop.clear();
    roots = model.FillRootList();
    ASSERT_EQ(roots.size(), 1u);
    EXPECT_FALSE(roots[0].desktop);
}

TEST_F(Browse, RootListUsesUpperCaseLettersAndLetterOrderForAllLetters) {
    fs.AddDrive('A', kDriveFixed, "a");
    fs.AddDrive('Z', kDriveCdRom, "z");
    const auto roots = model.FillRootList();
    ASSERT_EQ(roots.size(), 3u);
    EXPECT_EQ(roots[1].rootPath, "A:\\");
    EXPECT_EQ(roots[2].rootPath, "Z:\\");
}

// --- listings ---

TEST_F(Browse, ListingShowsSystemFoldersButNoHiddenOrSystemFiles) {
    fs.AddDrive('C', kDriveFixed, "C");
    fs.AddFile("C:\\M\\hidden.txt", 1, kAttrHidden);
    fs.AddFile("C:\\M\\system.sys", 1, kAttrSystem);
    fs.AddFolder("C:\\M\\HiddenDir", kAttrDirectory | kAttrHidden);
    fs.AddFolder("C:\\M\\SystemDir", kAttrDirectory | kAttrSystem);
    fs.AddFolder("C:\\M\\Both", kAttrDirectory | kAttrSystem | kAttrHidden);
    At("C:\\", "C:\\M");
    EXPECT_EQ(Names(model), (std::vector<std::string>{" ..", "SystemDir"}));
    EXPECT_EQ(Kinds(model), "01");
}

TEST_F(Browse, ListingIsParentThenFoldersThenFilesInEnumerationOrder) {
    fs.AddDrive('C', kDriveFixed, "C");
    fs.AddFile("C:\\A\\z.txt", 3);
    fs.AddFolder("C:\\A\\Y");
    fs.AddFile("C:\\A\\b.txt", 4);
    fs.AddFolder("C:\\A\\B");
    At("C:\\", "C:\\A");
    EXPECT_EQ(Names(model), (std::vector<std::string>{" ..", "Y", "B", "z.txt", "b.txt"}));
    EXPECT_EQ(Kinds(model), "01122");
    // One read of the folder gives both groups.
    EXPECT_EQ(fs.patterns, (std::vector<std::string>{"C:\\A\\*.*"}));
}

TEST_F(Browse, RecordsHoldFullPathAndDecimalSize) {
    fs.AddDrive('C', kDriveFixed, "C");
    fs.AddFolder("C:\\A\\Sub");
    fs.AddFile("C:\\A\\empty.txt", 0);
    fs.AddFile("C:\\A\\big.iso", 5000000000LL);
    fs.icons["C:\\A\\Sub"] = 7;
    fs.icons["C:\\A\\big.iso"] = 9;
    model.SetParentImage(42);
    At("C:\\", "C:\\A");

    const auto& parent = model.Listing().at(0);
    EXPECT_EQ(parent.kind, '0');
    EXPECT_EQ(parent.icon, 42);
    EXPECT_EQ(parent.record, nullptr);
    EXPECT_EQ(parent.displaySize, "");

    const auto* sub = Line(model, "Sub");
    ASSERT_NE(sub, nullptr);
    ASSERT_NE(sub->record, nullptr);
    EXPECT_STREQ(sub->record->path, "C:\\A\\Sub");
    EXPECT_STREQ(sub->record->size, "-1");
    EXPECT_EQ(sub->displaySize, "");
    EXPECT_EQ(model.IconOf(1), 7);

    const auto* empty = Line(model, "empty.txt");
    ASSERT_NE(empty, nullptr);
    EXPECT_STREQ(empty->record->size, "0");
    EXPECT_EQ(empty->displaySize, "fmt 0");
    EXPECT_EQ(model.IconOf(2), 0);

    const auto* big = Line(model, "big.iso");
    ASSERT_NE(big, nullptr);
    EXPECT_STREQ(big->record->path, "C:\\A\\big.iso");
    EXPECT_STREQ(big->record->size, "5000000000");
    EXPECT_EQ(big->displaySize, "fmt 5000000000");
    EXPECT_EQ(model.IconOf(3), 9);
}

// Icons are looked up only when asked. Files of one type share one look-up (extensions
// without regard to ASCII case); folders, programs and the like are looked
// up by path.
TEST_F(Browse, IconsAreLookedUpWhenAskedAndSharedByType) {
    fs.AddDrive('C', kDriveFixed, "C");
    fs.typeIcons = {{".txt", 11}, {"", 12}, {".\xB0\x41", 13}, {".\xB0\x61", 14}};
    struct Case {
        std::string name;
        bool folder;
        int shared;  // the type's icon; 0: its own
    };
    const Case cases[] = {
        {"Sub.txt", true, 0},  // a folder, whatever its name
        {"a.TXT", false, 11},
        {"README", false, 12},
        {"setup.exe", false, 0},
        {"b.txt", false, 11},
        {"x.\xB0\x41", false, 13},  // double-byte extensions are not folded
        {"y.\xB0\x61", false, 14},
        {"tool.exe", false, 0},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const std::string path = "C:\\" + cases[i].name;
        if (cases[i].folder)
            fs.AddFolder(path);
        else
            fs.AddFile(path, 1);
        fs.icons[path] = 100 + static_cast<int>(i);
    }
    At("C:\\", "C:\\");
    EXPECT_TRUE(fs.iconLookups.empty()) << "no icon comes with the listing";

    fs.iconLookups.clear();
    std::vector<std::string> byPath;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const int line = static_cast<int>(i);
        ASSERT_EQ(model.Listing().at(line).name, cases[i].name);
        const int own = 100 + static_cast<int>(i);
        EXPECT_EQ(model.IconOf(line), cases[i].shared ? cases[i].shared : own) << cases[i].name;
        if (!cases[i].shared) byPath.push_back("C:\\" + cases[i].name);
    }
    std::vector<std::string> pathLookups, typeLookups;
    for (const auto& lookup : fs.iconLookups)
        (lookup.rfind("type:", 0) == 0 ? typeLookups : pathLookups).push_back(lookup);
    EXPECT_EQ(pathLookups, byPath);
    EXPECT_EQ(std::set<std::string>(typeLookups.begin(), typeLookups.end()).size(), typeLookups.size())
        << "a type is asked about once";
    const auto lookups = fs.iconLookups.size();
    for (std::size_t line = 0; line < model.Listing().size(); ++line) model.IconOf(line);
    EXPECT_EQ(model.IconOf(model.Listing().size()), 0) << "past the listing";
    EXPECT_EQ(fs.iconLookups.size(), lookups) << "each line keeps its icon";
}

// A shell handler that pumps messages during a look-up lets a double-click
// replace the listing: the look-up must not land on the new one.
TEST_F(Browse, IconLookUpThatReplacesTheListingLeavesTheNewOneIntact) {
    fs.AddDrive('C', kDriveFixed, "C");
    fs.AddFolder("C:\\A");
    fs.AddFile("C:\\f", 1);  // line 1 in both listings
    fs.AddFile("C:\\A\\a", 1);
    fs.icons = {{"C:\\f", 7}, {"C:\\A\\a", 9}};
    At("C:\\", "C:\\");
    fs.duringIconLookup = [&] {
        fs.duringIconLookup = nullptr;
        model.OpenEntry(kKindFolder, "A");
    };
    EXPECT_EQ(model.IconOf(1), 7);
    ASSERT_EQ(model.WebPath(), "C:\\A");
    EXPECT_EQ(model.IconOf(1), 9);
}

TEST_F(Browse, UnreadableFolderListsOnlyTheParentEntry) {
    fs.AddDrive('C', kDriveFixed, "C");
    fs.AddFile("C:\\Locked\\a.txt", 1);
    fs.unreadable.insert("C:\\Locked");
    At("C:\\", "C:\\Locked");
    EXPECT_EQ(Names(model), (std::vector<std::string>{" .."}));
    At("C:\\", "C:\\Gone");
    EXPECT_EQ(Names(model), (std::vector<std::string>{" .."}));
}

TEST_F(Browse, EntriesBeyondLongestPathAreLeftOut) {
    fs.AddDrive('C', kDriveFixed, "C");
    const std::string deep = "C:\\" + std::string(240, 'd');
    fs.AddFile(deep + "\\" + std::string(15, 'f'), 1);  // 259 characters: kept
    fs.AddFile(deep + "\\" + std::string(16, 'g'), 1);  // 260: left out
    fs.AddFolder(deep + "\\" + std::string(16, 'h'));
    At("C:\\", deep);
    ASSERT_EQ(model.Listing().size(), 2u);
    EXPECT_EQ(model.Listing()[1].name, std::string(15, 'f'));
    EXPECT_EQ(std::string(model.Listing()[1].record->path).size(), 259u);

    std::vector<std::string> walked;
    model.WalkFolder(deep, deep, [&](const std::string& p, const std::string&, const std::string&) {
        walked.push_back(p);
    });
    EXPECT_EQ(walked, (std::vector<std::string>{deep + "\\" + std::string(15, 'f')}));
}

// --- remembered values and moving ---

TEST_F(Browse, EveryListingWritesBothRememberedValues) {
    fs.AddDrive('C', kDriveFixed, "C");
    fs.AddFolder("C:\\A\\B");
    reg.PutString(kHKeyCurrentUser, "Software\\TARVOSK", "strWebDrive", "C:\\");
    model.LoadRemembered();
    model.Settle(model.FillRootList());
    reg.writes.clear();
    model.ListFolder();
    model.OpenEntry('1', "A");
    const std::string key = std::to_string(kHKeyCurrentUser) + "\\software\\tarvosk|";
    EXPECT_EQ(reg.writes, (std::vector<std::string>{key + "strwebdrive", key + "strwebpath",
                                                    key + "strwebdrive", key + "strwebpath"}));
    EXPECT_EQ(Remembered("strWebPath"), "C:\\A");
}

TEST_F(Browse, MovingDownAndUpFollowsThePathRules) {
    fs.AddDrive('C', kDriveFixed, "C");
    fs.AddFolder("C:\\A\\B");
    fs.AddFolder("C:\\A\\D");
    At("C:\\", "C:\\");
    EXPECT_EQ(Kinds(model), "1");  // at the root: no parent entry

    model.OpenEntry('1', "A");
    EXPECT_EQ(model.WebPath(), "C:\\A");
    EXPECT_EQ(Names(model).front(), " ..");
    model.OpenEntry('1', "B");
    EXPECT_EQ(model.WebPath(), "C:\\A\\B");
    model.OpenEntry('0', " ..");
    EXPECT_EQ(model.WebPath(), "C:\\A\\");  // the final backslash stays
    EXPECT_EQ(fs.patterns.back(), "C:\\A\\*.*");
    EXPECT_EQ(Names(model), (std::vector<std::string>{" ..", "B", "D"}));
    model.OpenEntry('1', "D");
    EXPECT_EQ(model.WebPath(), "C:\\A\\D");
    model.OpenEntry('0', " ..");
    model.OpenEntry('0', " ..");
    EXPECT_EQ(model.WebPath(), "C:\\");
    EXPECT_EQ(Names(model), (std::vector<std::string>{"A"}));
    EXPECT_EQ(Remembered("strWebPath"), "C:\\");

    // A file does nothing, not even a new listing.
    const auto listings = fs.patterns.size();
    model.OpenEntry('2', "x.txt");
    EXPECT_EQ(model.WebPath(), "C:\\");
    EXPECT_EQ(fs.patterns.size(), listings);
}

TEST_F(Browse, DesktopTopIsRecognisedWithOrWithoutFinalBackslash) {
    fs.AddDrive('C', kDriveFixed, "C");
    fs.AddFolder("C:\\Users\\me\\Desktop\\Sub");
    fs.AddFile("C:\\Users\\me\\Desktop\\note.txt", 1);
    const auto roots = model.FillRootList();
    model.Settle(roots);
    model.SelectRoot(roots[0].rootPath);
    EXPECT_EQ(Names(model), (std::vector<std::string>{"Sub", "note.txt"}));
    model.OpenEntry('1', "Sub");
    model.OpenEntry('0', " ..");
    EXPECT_EQ(model.WebPath(), "C:\\Users\\me\\Desktop\\");
    EXPECT_TRUE(model.AtTop());
    EXPECT_EQ(Names(model), (std::vector<std::string>{"Sub", "note.txt"}));
    model.OpenEntry('0', " ..");  // nothing above the place
    EXPECT_EQ(model.WebPath(), "C:\\Users\\me\\Desktop\\");
}

TEST_F(Browse, SelectRootMakesBothStringsTheRoot) {
    fs.AddDrive('C', kDriveFixed, "C");
    fs.AddDrive('D', kDriveFixed, "D");
    fs.AddFile("D:\\d.txt", 1);
    At("C:\\", "C:\\A");
    model.SelectRoot("D:\\");
    EXPECT_EQ(model.WebDrive(), "D:\\");
    EXPECT_EQ(model.WebPath(), "D:\\");
    EXPECT_EQ(Names(model), (std::vector<std::string>{"d.txt"}));
    EXPECT_EQ(Remembered("strWebDrive"), "D:\\");
    EXPECT_EQ(Remembered("strWebPath"), "D:\\");
}

TEST_F(Browse, StartWithNothingRememberedTakesFirstPlaceAndWritesIt) {
    fs.AddDrive('C', kDriveFixed, "C");
    model.LoadRemembered();
    reg.writes.clear();
    EXPECT_EQ(model.Settle(model.FillRootList()), 0);
    EXPECT_EQ(model.WebDrive(), "C:\\Users\\me\\Desktop");
    EXPECT_EQ(model.WebPath(), "C:\\Users\\me\\Desktop");
    EXPECT_EQ(reg.writes.size(), 1u);
    EXPECT_EQ(Remembered("strWebDrive"), "C:\\Users\\me\\Desktop");
}

TEST_F(Browse, StartFindsRememberedPlaceAndFolder) {
    fs.AddDrive('C', kDriveFixed, "C");
    fs.AddDrive('D', kDriveFixed, "D");
    fs.AddFile("D:\\Work\\w.txt", 1);
    reg.PutString(kHKeyCurrentUser, "Software\\TARVOSK", "strWebDrive", "D:\\");
    reg.PutString(kHKeyCurrentUser, "Software\\TARVOSK", "strWebPath", "D:\\Work");
    model.LoadRemembered();
    EXPECT_EQ(model.Settle(model.FillRootList()), 2);
    model.ListFolder();
    EXPECT_EQ(Names(model), (std::vector<std::string>{" ..", "w.txt"}));
}

TEST_F(Browse, RememberedDriveThatIsGoneKeepsItsFolder) {
    fs.AddDrive('C', kDriveFixed, "C");
    reg.PutString(kHKeyCurrentUser, "Software\\TARVOSK", "strWebDrive", "E:\\");
    reg.PutString(kHKeyCurrentUser, "Software\\TARVOSK", "strWebPath", "E:\\Photos");
    model.LoadRemembered();
    EXPECT_EQ(model.Settle(model.FillRootList()), 0);  // first line shown
    EXPECT_EQ(model.WebDrive(), "E:\\");
    model.ListFolder();
    EXPECT_EQ(Names(model), (std::vector<std::string>{" .."}));
    model.OpenEntry('0', " ..");
    EXPECT_EQ(model.WebPath(), "E:\\");
    EXPECT_TRUE(model.Listing().empty());
    model.SelectRoot("C:\\");
    EXPECT_EQ(Remembered("strWebDrive"), "C:\\");
}

TEST_F(Browse, RememberedValueOfWrongTypeIsIgnored) {
    fs.AddDrive('C', kDriveFixed, "C");
    reg.Put(kHKeyCurrentUser, "Software\\TARVOSK", "strWebDrive", kRegDword, {1, 0, 0, 0});
    model.LoadRemembered();
    model.Settle(model.FillRootList());
    EXPECT_EQ(model.WebDrive(), "C:\\Users\\me\\Desktop");
}

TEST_F(Browse, NoPlaceAtAllListsNothing) {
    model.LoadRemembered();
    EXPECT_EQ(model.Settle(model.FillRootList()), -1);
    model.ListFolder();
    EXPECT_TRUE(model.Listing().empty());
    EXPECT_TRUE(fs.patterns.empty());
    model.OpenEntry('0', " ..");
    EXPECT_TRUE(fs.patterns.empty());
}

}  // namespace
}  // namespace trv
