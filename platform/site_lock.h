// The opt-in site lock of release builds: the pages whose script may drive
// the object. Portable; the COM object asks its site for the page's address.
#pragma once

#include <string>
#include <vector>

namespace trv {

class SiteLock {
public:
    // Entries "scheme://host[:port]" separated by ';' or ','. A host "*.name"
    // allows every host below name (not name itself); without a port the
    // scheme's own (80 for http, 443 for https) is meant. An entry that does
    // not read that way allows nothing. An empty list is no lock at all.
    explicit SiteLock(const std::string& list);

    bool Enabled() const { return m_enabled; }
    // Every address the host gives for the page must be allowed, and there
    // must be at least one: a page framed by another cannot borrow its rights.
    bool Allows(const std::vector<std::string>& addresses) const;
    bool AllowsAddress(const std::string& address) const;
    // "scheme://host:port" of an address, lower case with the port spelled
    // out (where the scheme has one), so two addresses of one site compare
    // equal, and the site reads back as itself; empty when the
    // address does not read as the site lock reads it.
    static std::string SiteOf(const std::string& address);

private:
    struct Site {
        std::string scheme;
        std::string host;  // for *.name: name
        bool below = false;
        unsigned port = 0;
    };
    bool m_enabled = false;
    std::vector<Site> m_sites;
};

}  // namespace trv
