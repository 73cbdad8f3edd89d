// Job list texts and the job record the transfer clients read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace trv {

enum JobKind : std::uint32_t {
    kJobUpload = 2,
    kJobDownload = 7,
    kJobWebLink = 8,
};

constexpr char kItemSeparator[] = "#>";
constexpr char kPathSeparator[] = "#<";

// Appends one item, with "#>" in front only when the list already has text.
void AppendListItem(std::string& list, const std::string& item);
// Download item: index "#<" path.
void AppendDownloadItem(std::string& list, const std::string& index, const std::string& path);

// kind, length (text + NUL), 4-byte sender address, text, NUL; little-endian.
std::vector<std::uint8_t> BuildJobRecord(std::uint32_t kind, const std::string& text,
                                         std::uint32_t address);

struct JobRecord {
    std::uint32_t kind = 0;
    std::uint32_t address = 0;
    std::string text;  // without the NUL
};

// Splits a job-list file into its records. Stops at the first record that
// does not fit; `consumed` tells how many bytes formed whole records.
std::vector<JobRecord> ParseJobRecords(const std::uint8_t* data, std::size_t size,
                                       std::size_t* consumed = nullptr);

// The job-list path as it goes on a client's command line.
std::string EncodeBlanks(const std::string& path);
std::string DecodeBlanks(const std::string& text);

}  // namespace trv
