#include "job_list.h"

namespace trv {

namespace {

constexpr char kBlankMark[] = "[[SPACE]]";
constexpr std::size_t kBlankMarkLen = sizeof(kBlankMark) - 1;
constexpr std::size_t kRecordHead = 12;

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::uint32_t GetU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
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

std::vector<JobRecord> ParseJobRecords(const std::uint8_t* data, std::size_t size,
                                       std::size_t* consumed) {
    std::vector<JobRecord> records;
    std::size_t pos = 0;
    while (size - pos >= kRecordHead) {
        const std::uint32_t length = GetU32(data + pos + 4);
        if (length == 0 || length > size - pos - kRecordHead) break;
        JobRecord r;
        r.kind = GetU32(data + pos);
        r.address = GetU32(data + pos + 8);
        const char* text = reinterpret_cast<const char*>(data + pos + kRecordHead);
        // The text ends at its NUL; a record without one keeps all its bytes.
        std::size_t n = 0;
        while (n < length && text[n] != '\0') ++n;
        r.text.assign(text, n);
        records.push_back(std::move(r));
        pos += kRecordHead + length;
    }
    if (consumed) *consumed = pos;
    return records;
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

std::string DecodeBlanks(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        if (text.compare(i, kBlankMarkLen, kBlankMark) == 0) {
            out += ' ';
            i += kBlankMarkLen;
        } else {
            out += text[i++];
        }
    }
    return out;
}

}  // namespace trv
