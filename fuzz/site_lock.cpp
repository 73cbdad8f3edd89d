// The site lock against a hostile list and a hostile page address.
// Input: the list, '\n', the address.
#include "fuzz/fuzz.h"
#include "platform/site_lock.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> in = trv::fuzz::Lines(data, size, 2);
    const std::string& address = in[1];
    const trv::SiteLock lock(in[0]);
    const bool allowed = lock.AllowsAddress(address);
    const std::string site = trv::SiteLock::SiteOf(address);

    // An address the lock lets through has a site, and that site, read back
    // through the same parser, is still let through: the normal form and the
    // page agree on who they are.
    if (allowed) {
        FUZZ_CHECK(lock.Enabled());
        FUZZ_CHECK(!site.empty());
        FUZZ_CHECK(lock.AllowsAddress(site));
        FUZZ_CHECK(lock.Allows(address, site));
        FUZZ_CHECK(!lock.Allows(std::nullopt, address));
    }
    // A site is a fixed point, and a list of that one site admits the page.
    if (!site.empty()) {
        FUZZ_CHECK(trv::SiteLock::SiteOf(site) == site);
        FUZZ_CHECK(trv::SiteLock(site).AllowsAddress(address));
    }
    FUZZ_CHECK(!lock.Allows(std::nullopt, std::nullopt));
    // A host the lock lets a page from may also have its pop-ups allowed.
    const std::size_t from = address.find("://");
    if (allowed) {
        const std::size_t end = address.find_first_of(":/\\?#", from + 3);
        FUZZ_CHECK(lock.CoversHost(address.substr(from + 3, end == std::string::npos ? end : end - from - 3)));
    }
    return 0;
}
