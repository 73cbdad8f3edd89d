// What the update check reads from the network and the temporary folder:
// the version files it compares and the installer's result file.
// Input: the result file's head, '\n', the server's version file, '\n', the
// installed one.
#include "fuzz/fuzz.h"
#include "update/update_flow.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> in = trv::fuzz::Lines(data, size, 3);
    const std::string& result = in[0];
    const std::string& server = in[1];
    const std::string& local = in[2];

    // A version file counts as a C string within its first 100 bytes.
    auto asCString = [](const std::string& file) {
        const std::string head = file.substr(0, trv::kVersionTextMax);
        return std::string(head.c_str(), strnlen(head.c_str(), head.size()));
    };
    FUZZ_CHECK(trv::VersionText(server) == asCString(server));
    FUZZ_CHECK(trv::SameVersion(server, local) == (asCString(server) == asCString(local)));
    FUZZ_CHECK(trv::SameVersion(server, local) == trv::SameVersion(local, server));
    FUZZ_CHECK(trv::SameVersion(server, server + local) ==
               (server.size() >= trv::kVersionTextMax || server.find('\0') != std::string::npos ||
                asCString(local).empty()));

    // The installer's result: only a whole "-1" fails, any other whole head
    // finishes with a result the message parameter can carry, and a head
    // still being written is waited for.
    const std::string head = result.substr(0, trv::kResultHeadMax);
    trv::InstallWatch watch(3);
    const trv::InstallWatch::Step step = watch.Tick(trv::ReadStatus::Ok, result, false);
    const bool whole = !head.empty() && head != "-";
    FUZZ_CHECK((step.action == trv::InstallWatch::Action::Finish) == whole);
    if (whole) {
        const int value = trv::ParseInstallResult(result);
        FUZZ_CHECK(value >= -9 && value <= 99);
        FUZZ_CHECK((trv::EndCodeForInstallResult(step.param) == 2) == (head == "-1"));
    }
    return 0;
}
