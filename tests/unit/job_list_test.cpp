#include "control/job_list.h"
#include "testbed/job_reader.h"

#include <gtest/gtest.h>

namespace trv {
namespace {

TEST(JobListText, JoinsItemsWithSeparatorOnlyAfterText) {
    std::string list;
    AppendListItem(list, "a");
    AppendListItem(list, "b");
    EXPECT_EQ(list, "a#>b");

    std::string emptyFirst;
    AppendListItem(emptyFirst, "");
    AppendListItem(emptyFirst, "b");
    EXPECT_EQ(emptyFirst, "b");

    std::string trailing;
    AppendListItem(trailing, "a");
    AppendListItem(trailing, "");
    EXPECT_EQ(trailing, "a#>");
}

TEST(JobListText, KeepsSeparatorsInsideItemsAndDuplicates) {
    std::string list;
    AppendListItem(list, "x#>y");
    AppendListItem(list, "x#>y");
    AppendListItem(list, "p#<q");
    EXPECT_EQ(list, "x#>y#>x#>y#>p#<q");
}

TEST(JobListText, DownloadItemsJoinIndexAndPath) {
    std::string list;
    AppendDownloadItem(list, "7", "C:\\d");
    AppendDownloadItem(list, "9", "D:\\x y");
    EXPECT_EQ(list, "7#<C:\\d#>9#<D:\\x y");
}

TEST(JobRecord, UploadListIsSeventeenBytes) {
    const auto record = BuildJobRecord(kJobUpload, "a#>b", 0xDDCCBBAAu);
    const std::vector<std::uint8_t> expected = {0x02, 0, 0, 0, 0x05, 0, 0, 0, 0xAA, 0xBB,
                                                0xCC, 0xDD, 0x61, 0x23, 0x3E, 0x62, 0x00};
    EXPECT_EQ(record, expected);
}

TEST(JobRecord, EmptyTextStillCarriesItsNul) {
    const auto record = BuildJobRecord(kJobWebLink, "", 0);
    ASSERT_EQ(record.size(), 13u);
    EXPECT_EQ(record[0], 8);
    EXPECT_EQ(record[4], 1);
    EXPECT_EQ(record[12], 0);
}

TEST(JobRecord, ParsesBackToBackRecordsAndStopsAtATornTail) {
    auto file = BuildJobRecord(kJobDownload, "7#<C:\\d", 1);
    const auto second = BuildJobRecord(kJobWebLink, "http://x/", 2);
    file.insert(file.end(), second.begin(), second.end());
    const std::size_t whole = file.size();
    file.push_back(0x07);  // a record still being written
    file.push_back(0x00);

    std::size_t consumed = 0;
    const auto records = ParseJobRecords(file.data(), file.size(), &consumed);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].kind, 7u);
    EXPECT_EQ(records[0].text, "7#<C:\\d");
    EXPECT_EQ(records[1].kind, 8u);
    EXPECT_EQ(records[1].address, 2u);
    EXPECT_EQ(records[1].text, "http://x/");
    EXPECT_EQ(consumed, whole);
}

TEST(JobRecord, LengthBeyondTheDataIsNotRead) {
    auto record = BuildJobRecord(kJobUpload, "abc", 0);
    record[4] = 0xFF;  // claims far more text than there is
    record[5] = 0xFF;
    std::size_t consumed = 99;
    EXPECT_TRUE(ParseJobRecords(record.data(), record.size(), &consumed).empty());
    EXPECT_EQ(consumed, 0u);
}

TEST(CommandLinePath, BlanksBecomeMarksAndBack) {
    const std::string path = "C:\\Documents and Settings\\u\\Local Settings\\Temp\\TARVOSK_Upload_List";
    const std::string encoded = EncodeBlanks(path);
    EXPECT_EQ(encoded,
              "C:\\Documents[[SPACE]]and[[SPACE]]Settings\\u\\Local[[SPACE]]Settings\\Temp\\"
              "TARVOSK_Upload_List");
    EXPECT_EQ(DecodeBlanks(encoded), path);
    EXPECT_EQ(EncodeBlanks("C:\\Temp\\"), "C:\\Temp\\");
    EXPECT_EQ(DecodeBlanks("a[[SPACE]"), "a[[SPACE]");
}

}  // namespace
}  // namespace trv
