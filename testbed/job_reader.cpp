#include "testbed/job_reader.h"

#include "control/job_list.h"

namespace trv {

namespace {

constexpr std::size_t kRecordHead = 12;
constexpr std::size_t kBlankMarkLen = sizeof(kBlankMark) - 1;

std::uint32_t GetU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

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
