// The clients' side of the job hand-off: reading job-list files and the
// job-list path back from a command line. The stand-in clients and the tests
// use it; the control only writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace trv {

struct JobRecord {
    std::uint32_t kind = 0;
    std::uint32_t address = 0;
    std::string text;  // without the NUL
};

// Splits a job-list file into its records. Stops at the first record that
// does not fit; `consumed` tells how many bytes formed whole records.
std::vector<JobRecord> ParseJobRecords(const std::uint8_t* data, std::size_t size,
                                       std::size_t* consumed = nullptr);

// Undoes EncodeBlanks.
std::string DecodeBlanks(const std::string& text);

}  // namespace trv
