// Reads the log the stand-in client programs write, for tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace trv::testbed {

struct TestbedEvent {
    std::string program, event, source, list_file, params;
    std::vector<std::string> args;
    std::uint32_t kind = 0, length = 0;
    std::uint64_t wparam = 0;
    std::string text;
    unsigned long pid = 0;
};

// One event per well-formed line, in file order. Text fields hold the exact
// ANSI bytes the program had (from the "_hex" copies; a field written without
// one is taken as it stands). Lines that are not a JSON object with an
// "event", or whose known fields have the wrong type, are skipped; unknown
// fields are ignored. A missing or unreadable file gives no events.
std::vector<TestbedEvent> ReadTestbedLog(const std::string& path);

// The same, for log text already in memory.
std::vector<TestbedEvent> ParseTestbedLog(const std::string& text);

}  // namespace trv::testbed

// Tests name these unqualified.
using trv::testbed::ParseTestbedLog;
using trv::testbed::ReadTestbedLog;
using trv::testbed::TestbedEvent;
