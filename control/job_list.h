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

// Every blank of the job-list path is written as this on a client's command line.
constexpr char kBlankMark[] = "[[SPACE]]";

// The job-list path as it goes on a client's command line.
std::string EncodeBlanks(const std::string& path);

}  // namespace trv
