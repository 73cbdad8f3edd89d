#include "select/selection.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/fake/browse_fake.h"
#include "platform/fake/registry_fake.h"

namespace trv {
namespace {

using Triple = std::vector<std::string>;

class Report : public ::testing::Test {
protected:
    void SetUp() override { fs.AddDrive('C', kDriveFixed, "C"); }
    void ListAt(const std::string& path) {
        model.SelectRoot("C:\\");
        if (path != "C:\\") {
            reg.PutString(kHKeyCurrentUser, "Software\\TARVOSK", "strWebPath", path);
            model.LoadRemembered();
            model.ListFolder();
        }
    }
    int IndexOf(const std::string& name) {
        for (std::size_t i = 0; i < model.Listing().size(); ++i)
            if (model.Listing()[i].name == name) return static_cast<int>(i);
        return -1;
    }
    std::vector<Triple> Press(const std::vector<int>& selected) {
        std::vector<Triple> got;
        ReportSelected(model, selected, [&](const std::string& p, const std::string& s,
                                            const std::string& m) { got.push_back({p, s, m}); });
        return got;
    }

    FakeBrowse fs;
    FakeRegistry reg;
    CRegistry registry{reg, kHKeyCurrentUser};
    BrowseModel model{fs, registry};
};

TEST_F(Report, WorkedExampleGivesFiveTriplesInOrder) {
    fs.AddFile("C:\\Docs\\a.txt", 10);
    fs.AddFile("C:\\Docs\\Sub\\b.txt", 5);
    fs.AddFile("C:\\x.bin", 7);
    ListAt("C:\\");
    ASSERT_EQ(model.Listing().size(), 2u);
    const auto got = Press({0, 1});
    EXPECT_EQ(got, (std::vector<Triple>{{"C:\\Docs", "-1", "-1"},
                                        {"C:\\Docs\\Sub", "-1", "C:\\Docs"},
                                        {"C:\\Docs\\Sub\\b.txt", "5", "C:\\Docs"},
                                        {"C:\\Docs\\a.txt", "10", "C:\\Docs"},
                                        {"C:\\x.bin", "7", "-1"}}));
}

// A page's handler that pumps messages (an alert) lets the user open a
// folder or choose another place before the press has reported everything:
// the press still reports what was picked.
TEST_F(Report, PickedEntriesAreReportedWhenTheListingChangesDuringThePress) {
    fs.AddDrive('D', kDriveFixed, "D");
    fs.AddFile("D:\\other.txt", 1);
    fs.AddFile("C:\\Docs\\a.txt", 10);
    fs.AddFile("C:\\Docs\\Sub\\b.txt", 5);
    fs.AddFile("C:\\x.bin", 7);
    const std::function<void()> meanwhile[] = {
        [&] { model.OpenEntry(kKindFolder, "Docs"); },
        [&] { model.SelectRoot("D:\\"); },
    };
    for (const auto& move : meanwhile) {
        ListAt("C:\\");
        std::vector<Triple> got;
        ReportSelected(model, {0, 1}, [&](const std::string& p, const std::string& s, const std::string& m) {
            if (got.empty()) move();
            got.push_back({p, s, m});
        });
        EXPECT_NE(model.WebPath(), "C:\\");
        EXPECT_EQ(got, (std::vector<Triple>{{"C:\\Docs", "-1", "-1"},
                                            {"C:\\Docs\\Sub", "-1", "C:\\Docs"},
                                            {"C:\\Docs\\Sub\\b.txt", "5", "C:\\Docs"},
                                            {"C:\\Docs\\a.txt", "10", "C:\\Docs"},
                                            {"C:\\x.bin", "7", "-1"}}));
    }
}

TEST_F(Report, WalkIsDepthFirstWithSubFoldersBeforeFilesAtEveryLevel) {
    fs.AddFile("C:\\B\\a", 1);
    fs.AddFile("C:\\B\\S\\b", 2);
    fs.AddFile("C:\\B\\S\\T\\c", 3);
    fs.AddFolder("C:\\B\\U");
    fs.AddFile("C:\\B\\.hidden", 9, kAttrHidden);
    fs.AddFile("C:\\B\\S\\sys.dat", 9, kAttrSystem);
    fs.AddFolder("C:\\B\\S\\Secret", kAttrDirectory | kAttrHidden);
    fs.AddFile("C:\\B\\S\\Secret\\no", 9);
    fs.AddFolder("C:\\B\\Sys", kAttrDirectory | kAttrSystem);
    fs.AddFile("C:\\B\\Sys\\yes", 4);
    std::vector<Triple> got;
    model.WalkFolder("C:\\B", "C:\\B", [&](const std::string& p, const std::string& s,
                                           const std::string& m) { got.push_back({p, s, m}); });
    EXPECT_EQ(got, (std::vector<Triple>{{"C:\\B\\S", "-1", "C:\\B"},
                                        {"C:\\B\\S\\T", "-1", "C:\\B"},
                                        {"C:\\B\\S\\T\\c", "3", "C:\\B"},
                                        {"C:\\B\\S\\b", "2", "C:\\B"},
                                        {"C:\\B\\U", "-1", "C:\\B"},
                                        {"C:\\B\\Sys", "-1", "C:\\B"},
                                        {"C:\\B\\Sys\\yes", "4", "C:\\B"},
                                        {"C:\\B\\a", "1", "C:\\B"}}));
}

TEST_F(Report, ParentEntryAloneReportsNothing) {
    fs.AddFile("C:\\A\\f", 1);
    ListAt("C:\\A");
    ASSERT_EQ(model.Listing().at(0).kind, kKindParent);
    EXPECT_TRUE(Press({0}).empty());
    EXPECT_TRUE(Press({}).empty());
    EXPECT_TRUE(Press({-1, 99}).empty());
}

TEST_F(Report, ParentFolderAndFileReportFolderWalkThenFile) {
    fs.AddFile("C:\\A\\Empty\\.keep", 0, kAttrHidden);
    fs.AddFile("C:\\A\\f.txt", 3);
    ListAt("C:\\A");
    const auto got = Press({0, IndexOf("Empty"), IndexOf("f.txt")});
    EXPECT_EQ(got, (std::vector<Triple>{{"C:\\A\\Empty", "-1", "-1"},
                                        {"C:\\A\\f.txt", "3", "-1"}}));
}

TEST_F(Report, FilesTwoLevelsDownCarryTheSelectedFolderAsMode) {
    fs.AddFile("C:\\A\\B\\C\\deep.txt", 1);
    ListAt("C:\\");
    const auto got = Press({IndexOf("A")});
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[3], (Triple{"C:\\A\\B\\C\\deep.txt", "1", "C:\\A"}));
}

TEST_F(Report, SelectedFileKeepsListedSizeWhileWalkSizesAnew) {
    fs.AddFile("C:\\A\\in.txt", 1);
    fs.AddFile("C:\\top.txt", 1);
    ListAt("C:\\");
    fs.AddFile("C:\\A\\in.txt", 6000000000LL);  // changed after the listing
    fs.AddFile("C:\\top.txt", 2);
    const auto got = Press({IndexOf("A"), IndexOf("top.txt")});
    EXPECT_EQ(got, (std::vector<Triple>{{"C:\\A", "-1", "-1"},
                                        {"C:\\A\\in.txt", "6000000000", "C:\\A"},
                                        {"C:\\top.txt", "1", "-1"}}));
}

TEST_F(Report, PressingTwiceReportsTwice) {
    fs.AddFile("C:\\one.txt", 1);
    ListAt("C:\\");
    EXPECT_EQ(Press({0}).size(), 1u);
    EXPECT_EQ(Press({0}).size(), 1u);
}

TEST_F(Report, WalkReportsLinksButDoesNotEnterThem) {
    fs.AddFolder("C:\\A\\Loop", kAttrDirectory | kAttrReparsePoint);
    fs.AddFile("C:\\A\\Loop\\inside.txt", 1);
    fs.AddFile("C:\\A\\Unreadable\\x", 1);
    fs.AddFile("C:\\A\\z.txt", 2);
    fs.unreadable.insert("C:\\A\\Unreadable");
    ListAt("C:\\");
    const auto got = Press({IndexOf("A")});
    EXPECT_EQ(got, (std::vector<Triple>{{"C:\\A", "-1", "-1"},
                                        {"C:\\A\\Loop", "-1", "C:\\A"},
                                        {"C:\\A\\Unreadable", "-1", "C:\\A"},
                                        {"C:\\A\\z.txt", "2", "C:\\A"}}));
}

TEST_F(Report, WalkOfDriveRootUsesNoDoubledBackslash) {
    fs.AddFile("C:\\r.txt", 1);
    std::vector<Triple> got;
    model.WalkFolder("C:\\", "C:\\", [&](const std::string& p, const std::string& s,
                                         const std::string& m) { got.push_back({p, s, m}); });
    EXPECT_EQ(got, (std::vector<Triple>{{"C:\\r.txt", "1", "C:\\"}}));
}

}  // namespace
}  // namespace trv
