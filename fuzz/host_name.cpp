// Host names as a page hands them over: the pop-up allow list's argument
// and the host in the site lock's entries. Input: the name.
#include "fuzz/fuzz.h"
#include "platform/fake/registry_fake.h"
#include "platform/host_name.h"
#include "platform/site_lock.h"
#include "update/popup.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string name(reinterpret_cast<const char*>(data), size);
    const bool ok = trv::IsHostName(name);
    if (ok) FUZZ_CHECK(name.size() <= trv::kHostNameMax && name.find_first_of(":/@;,*% ") == std::string::npos);

    // The allow list takes exactly the host names (and the empty default),
    // under the name it was given, and nothing else.
    trv::FakeRegistry registry;
    const bool written = trv::AllowPopUp(registry, name);
    FUZZ_CHECK(written == (ok || name.empty()));
    const auto* value = registry.Find(trv::kHKeyCurrentUser, trv::kPopUpAllowKey, name);
    FUZZ_CHECK((value != nullptr) == written);
    FUZZ_CHECK(registry.writes.size() == (written ? 1u : 0u));

    // A host name the checks take is one the site lock can lock to, in any case.
    if (ok) {
        std::string upper = name;
        for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
        const trv::SiteLock exact("https://" + name);
        FUZZ_CHECK(exact.AllowsAddress("https://" + upper + ":443/x"));
        FUZZ_CHECK(!exact.AllowsAddress("https://a." + name + "/"));
        if (name.size() + 2 <= trv::kHostNameMax) {
            const trv::SiteLock below("https://*." + name);
            FUZZ_CHECK(below.AllowsAddress("https://a." + upper + "/"));
            FUZZ_CHECK(!below.AllowsAddress("https://" + name + "/"));
        }
    }
    return 0;
}
