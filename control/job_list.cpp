#include "control/job_list.h"

namespace trv {

namespace {

constexpr std::size_t kRecordHead = 12;

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

}  // namespace

void AppendListItem(std::string& list, const std::string& item) {
    if (!list.empty()) list += kItemSeparator;
    list += item;
}

void AppendDownloadItem(std::string& list, const std::string& index, const std::string& path) {
    if (!list.empty()) list += kItemSeparator;
    list += index;
    list += kPathSeparator;
    list += path;
}

std::vector<std::uint8_t> BuildJobRecord(std::uint32_t kind, const std::string& text,
                                         std::uint32_t address) {
    std::vector<std::uint8_t> out;
    const auto length = static_cast<std::uint32_t>(text.size() + 1);
    out.reserve(kRecordHead + length);
    PutU32(out, kind);
    PutU32(out, length);
    PutU32(out, address);
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
    return out;
}

std::string EncodeBlanks(const std::string& path) {
    std::string out;
    out.reserve(path.size());
    for (char c : path) {
        if (c == ' ')
            out += kBlankMark;
        else
            out += c;
    }
    return out;
}

}  // namespace trv
