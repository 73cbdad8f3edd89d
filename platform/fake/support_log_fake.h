// The support log's system in memory: the switch lives in a fake registry and
// the log file is a string.
#pragma once

#include <string>

#include "platform/fake/registry_fake.h"
#include "platform/support_log.h"

namespace trv {

class FakeSupportLogSystem : public ISupportLogSystem {
public:
    FakeRegistry registry;
    std::string stamp = "2024-05-06 07:08:09.010 11/12";
    std::string file;  // the log's bytes
    bool openFails = false;
    int empties = 0;

    // Sets the per-user switch to a REG_DWORD.
    void Switch(std::uint32_t value);

    IRegistryApi& Registry() override { return registry; }
    std::string Stamp() override { return stamp; }
    std::unique_ptr<File> Open() override;
};

}  // namespace trv
