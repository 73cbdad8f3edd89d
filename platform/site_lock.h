// The opt-in site lock of release builds: the pages whose script may drive
// the object. Portable; the COM object asks its site for the page's address.
#pragma once

#include <optional>
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
    // The document that holds the object must be known and allowed: a frame
    // inside an allowed page is a page of its own. The top-level address,
    // when the host gives one, must be allowed too, so an allowed page framed
    // by another cannot lend it its rights either. The document's domain,
    // when the host gives it, must be its own host: a page that lowered
    // document.domain shares its window with every page under that parent.
    bool Allows(const std::optional<std::string>& document, const std::optional<std::string>& top,
                const std::optional<std::string>& domain = std::nullopt) const;
    bool AllowsAddress(const std::string& address) const;
    // "scheme://host:port" of an address, lower case with the port spelled
    // out (where the scheme has one), so two addresses of one site compare
    // equal, and the site reads back as itself; empty when the
    // address does not read as the site lock reads it.
    static std::string SiteOf(const std::string& address);
    // Whether a host name, as a pop-up allow-list entry names it, is a host
    // the list allows on some scheme and port.
    bool CoversHost(const std::string& host) const;

private:
    struct Site {
        std::string scheme;
        std::string host;  // for *.name: name
        bool below = false;
        unsigned port = 0;
    };
    static bool HostMatches(const Site& site, const std::string& host);
    bool m_enabled = false;
    std::vector<Site> m_sites;
};

}  // namespace trv
