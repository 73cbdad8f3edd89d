// The site lock's address rules: which page addresses a list lets through.
#include "platform/site_lock.h"

#include <gtest/gtest.h>

namespace trv {
namespace {

constexpr char kList[] = "https://*.tarvosk.co.kr; https://files.tarvosk.co.kr:8443";

TEST(SiteLock, AddressMatchesSchemeHostPatternAndPort) {
    const SiteLock lock(kList);
    ASSERT_TRUE(lock.Enabled());
    const struct {
        const char* address;
        bool allowed;
    } cases[] = {
        {"https://www.tarvosk.co.kr/index.html", true},
        {"HTTPS://WWW.Tarvosk.CO.KR/", true},
        {"https://a.b.tarvosk.co.kr?x=1", true},
        {"https://www.tarvosk.co.kr:443/", true},
        {"https://files.tarvosk.co.kr:8443/up#top", true},
        {"https://files.tarvosk.co.kr/", true},
        {"https://tarvosk.co.kr/", false},  // "*." means below the name only
        {"https://www.tarvosk.co.kr:8443/", false},
        {"https://files.tarvosk.co.kr:08443x/", false},
        {"http://www.tarvosk.co.kr/", false},
        {"https://tarvosk.co.kr.evil.example/", false},
        {"https://eviltarvosk.co.kr/", false},
        {"https://www.tarvosk.co.kr@evil.example/", false},
        {"https://evil.example\\@www.tarvosk.co.kr/", false},
        {"https://evil.example/?u=https://www.tarvosk.co.kr/", false},
        {"https://www.tarvosk.co.kr./", false},
        {"https://[::1]/", false},
        {"https://www.tarvosk.co.kr:0/", false},
        {"https://www.tarvosk.co.kr:70000/", false},
        {"https:www.tarvosk.co.kr", false},
        {"about:blank", false},
        {"file:///C:/www.tarvosk.co.kr/x.html", false},
        {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(lock.AllowsAddress(c.address), c.allowed) << c.address;
}

TEST(SiteLock, HostileFrameOrHostilePageOrUnknownDocumentIsRefused) {
    const SiteLock lock(kList);
    const std::optional<std::string> none, good = "https://www.tarvosk.co.kr/",
                                           also = "https://files.tarvosk.co.kr/a",
                                           evil = "https://evil.example/";
    const struct {
        std::optional<std::string> document, top, domain;  // domain: document.domain
        bool allowed;
    } cases[] = {
        {good, also, none, true},  {good, none, none, true},  {evil, good, none, false},
        {good, evil, none, false}, {none, good, none, false}, {none, none, none, false},
        {good, good, "WWW.tarvosk.co.kr", true}, {good, good, "tarvosk.co.kr", false},  // lowered
    };
    for (const auto& c : cases)
        EXPECT_EQ(lock.Allows(c.document, c.top, c.domain), c.allowed)
            << c.document.value_or("-") << " in " << c.top.value_or("-");
}

TEST(SiteLock, PopUpHostsOutsideTheListAreNotCovered) {
    const SiteLock lock(kList);
    const struct {
        const char* host;
        bool covered;
    } cases[] = {
        {"www.tarvosk.co.kr", true}, {"FILES.Tarvosk.co.kr", true}, {"tarvosk.co.kr", false},
        {"evil.example", false},     {"tarvosk.co.kr.evil.example", false},
        {"x.tarvosk.co.kr:80", false}, {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(lock.CoversHost(c.host), c.covered) << c.host;
}

TEST(SiteLock, PortPast65535NeverWrapsOntoAnotherPort) {
    // 65616 is 80 modulo 65536.
    const struct {
        const char* list;
        const char* address;
        bool allowed;
    } cases[] = {
        {"http://127.0.0.1:65535", "http://127.0.0.1:65535/page.html", true},
        {"http://127.0.0.1:65535", "http://127.0.0.1:65536/page.html", false},
        {"http://127.0.0.1:65536", "http://127.0.0.1:65536/page.html", false},
        {"http://127.0.0.1:65616", "http://127.0.0.1/", false},
        {"http://127.0.0.1", "http://127.0.0.1:65616/", false},
        {"http://127.0.0.1", "http://127.0.0.1:18446744073709551696/", false},  // 2^64 + 80
    };
    for (const auto& c : cases)
        EXPECT_EQ(SiteLock(c.list).AllowsAddress(c.address), c.allowed) << c.list << " " << c.address;
}

TEST(SiteLock, ASiteReadsBackAsItself) {
    const struct {
        const char* address;
        const char* site;
    } cases[] = {
        {"HTTPS://WWW.Tarvosk.CO.KR/x", "https://www.tarvosk.co.kr:443"},
        {"http://127.0.0.1:65535/", "http://127.0.0.1:65535"},
        {"j://jjjj/>j", "j://jjjj"},  // found by the fuzzer: once "j://jjjj:0"
        {"https://a.example:0/", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SiteLock::SiteOf(c.address), c.site) << c.address;
        EXPECT_EQ(SiteLock::SiteOf(c.site), c.site) << c.address;
    }
}

TEST(SiteLock, ListsWithoutUsableEntries) {
    EXPECT_FALSE(SiteLock("").Enabled());
    EXPECT_FALSE(SiteLock(" ; ,").Enabled());
    // Entries that do not read as a site lock everything rather than nothing.
    for (const char* list : {"tarvosk.co.kr", "https://*.tarvosk.co.kr/path", "https://*"}) {
        const SiteLock lock(list);
        EXPECT_TRUE(lock.Enabled()) << list;
        EXPECT_FALSE(lock.AllowsAddress("https://www.tarvosk.co.kr/")) << list;
    }
    // ',' separates as ';' does.
    EXPECT_TRUE(SiteLock("https://a.example,http://b.example:8080")
                    .AllowsAddress("http://b.example:8080/"));
}

}  // namespace
}  // namespace trv
