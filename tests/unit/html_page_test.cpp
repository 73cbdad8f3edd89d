// The page host's reading of a page: objects, plain scripts, event blocks.
#include "tools/pagehost/html_page.h"

#include <gtest/gtest.h>

namespace pagehost {
namespace {

TEST(HtmlPage, FindsObjectsScriptsAndEventBlocksWithTheirLines) {
    const std::string html =
        "<html>\n"
        "<!-- <object id=\"ghost\" classid=\"clsid:00000000-0000-0000-0000-000000000000\"> -->\n"
        "<OBJECT ID=WebBBS CLASSID='clsid:11111111-2222-3333-4444-555555555555' width=0>\n"
        "</OBJECT>\n"
        "<script language=\"JScript\">\nvar a = '<b>';\n</script>\n"
        "<script for=\"WebBBS\" event=\"UpSelectComplete(strPath, strSize, strMode)\">\n"
        "alert(strPath);\n</SCRIPT>\n"
        "<script type=\"text/vbscript\">x</script>\n"
        "<script src=\" ../lib/a.js \"></script>\n";
    const Page page = ParsePage(html);
    ASSERT_EQ(page.objects.size(), 1u);
    EXPECT_EQ(page.objects[0].id, "WebBBS");
    EXPECT_EQ(page.objects[0].classid, "clsid:11111111-2222-3333-4444-555555555555");
    EXPECT_EQ(page.objects[0].line, 3);

    ASSERT_EQ(page.scripts.size(), 4u);
    EXPECT_EQ(page.scripts[0].text, "\nvar a = '<b>';\n");
    EXPECT_EQ(page.scripts[0].line, 5);
    EXPECT_TRUE(IsJScript(page.scripts[0].language));
    EXPECT_EQ(page.scripts[1].forId, "WebBBS");
    EXPECT_EQ(page.scripts[1].eventName, "UpSelectComplete");
    EXPECT_EQ(page.scripts[1].eventArgs, "strPath, strSize, strMode");
    EXPECT_EQ(page.scripts[1].line, 8);
    EXPECT_FALSE(IsJScript(page.scripts[2].language));
    EXPECT_EQ(page.scripts[3].src, "../lib/a.js");
    EXPECT_EQ(page.scripts[0].src, "");
}

TEST(HtmlPage, UnclosedTagsAndScriptsEndWithoutOverrun) {
    EXPECT_TRUE(ParsePage("<object id=\"a").objects.empty());
    const Page open = ParsePage("<script>alert(1)");
    ASSERT_EQ(open.scripts.size(), 1u);
    EXPECT_EQ(open.scripts[0].text, "alert(1)");
    EXPECT_TRUE(ParsePage("<!-- never closed <script>x</script>").scripts.empty());
    EXPECT_TRUE(ParsePage("").scripts.empty());
    EXPECT_TRUE(ParsePage("<<<>>>< = '\"").objects.empty());
}

TEST(HtmlPage, EventSignatures) {
    std::string name, args;
    ASSERT_TRUE(SplitEventSignature(" InstallCompleteEvent() ", name, args));
    EXPECT_EQ(name, "InstallCompleteEvent");
    EXPECT_EQ(args, "");
    ASSERT_TRUE(SplitEventSignature("Click", name, args));
    EXPECT_EQ(name, "Click");
    EXPECT_FALSE(SplitEventSignature("(a)", name, args));
    EXPECT_FALSE(SplitEventSignature("Name(a", name, args));
    EXPECT_FALSE(SplitEventSignature("", name, args));
}

}  // namespace
}  // namespace pagehost
