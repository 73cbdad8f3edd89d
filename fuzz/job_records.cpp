// The job-list file as the stand-in clients read it: any other program of
// the user can write the temporary folder, so its bytes are anyone's; and the
// job-list path as it comes back from a command line.
// Input: the file's bytes (also read as a path).
#include "control/job_list.h"
#include "fuzz/fuzz.h"
#include "testbed/job_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // libFuzzer's input is a heap block of exactly `size` bytes: a read past
    // the file is an ASan report.
    std::size_t consumed = size + 1;
    const std::vector<trv::JobRecord> records = trv::ParseJobRecords(data, size, &consumed);
    FUZZ_CHECK(consumed <= size);
    FUZZ_CHECK(records.size() * 13 <= consumed);  // a head and one byte at least

    // What the reader took, written again by the writer, reads the same;
    // and the whole records alone read as they did with the rest behind them.
    std::vector<std::uint8_t> rewritten;
    for (const trv::JobRecord& r : records) {
        const std::vector<std::uint8_t> one = trv::BuildJobRecord(r.kind, r.text, r.address);
        rewritten.insert(rewritten.end(), one.begin(), one.end());
    }
    std::size_t again = 0;
    const std::vector<trv::JobRecord> reread = trv::ParseJobRecords(rewritten.data(), rewritten.size(), &again);
    std::size_t prefix = 0;
    const std::vector<trv::JobRecord> whole = trv::ParseJobRecords(data, consumed, &prefix);
    FUZZ_CHECK(again == rewritten.size() && reread.size() == records.size());
    FUZZ_CHECK(prefix == consumed && whole.size() == records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        FUZZ_CHECK(reread[i].kind == records[i].kind && reread[i].address == records[i].address);
        FUZZ_CHECK(reread[i].text == records[i].text && whole[i].text == records[i].text);
        FUZZ_CHECK(records[i].text.find('\0') == std::string::npos);
    }

    // A path without the blank mark in it comes back from the command line as it went.
    const std::string path(reinterpret_cast<const char*>(data), size);
    const std::string encoded = trv::EncodeBlanks(path);
    FUZZ_CHECK(encoded.find(' ') == std::string::npos);
    if (path.find(trv::kBlankMark) == std::string::npos) FUZZ_CHECK(trv::DecodeBlanks(encoded) == path);
    return 0;
}
