#include "platform/site_lock.h"

#include <cctype>

#include "platform/host_name.h"

namespace trv {

namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

unsigned DefaultPort(const std::string& scheme) {
    if (scheme == "http") return 80;
    if (scheme == "https") return 443;
    return 0;
}

struct Origin {
    std::string scheme;
    std::string host;
    unsigned port = 0;
    std::string rest;  // path, query and fragment
};

// scheme "://" host [":" port], then anything from the first '/', '\', '?'
// or '#'. User information and bracketed addresses are refused outright:
// they are how a look-alike address hides its real host.
bool ParseOrigin(const std::string& text, Origin& out) {
    const std::size_t colon = text.find("://");
    if (colon == std::string::npos || colon == 0) return false;
    out.scheme = Lower(text.substr(0, colon));
    for (std::size_t i = 0; i < out.scheme.size(); ++i) {
        const char c = out.scheme[i];
        const bool ok = (c >= 'a' && c <= 'z') ||
                        (i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
        if (!ok) return false;
    }
    const std::size_t start = colon + 3;
    std::size_t end = text.find_first_of("/\\?#", start);
    if (end == std::string::npos) end = text.size();
    const std::string authority = text.substr(start, end - start);
    out.rest = text.substr(end);
    if (authority.find_first_of("@[]") != std::string::npos) return false;

    const std::size_t portMark = authority.rfind(':');
    out.host = Lower(authority.substr(0, portMark));
    if (portMark == std::string::npos) {
        out.port = DefaultPort(out.scheme);
        return true;
    }
    const std::string digits = authority.substr(portMark + 1);
    if (digits.empty() || digits.size() > 5) return false;
    unsigned long port = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        port = port * 10 + static_cast<unsigned>(c - '0');
    }
    if (port == 0 || port > 65535) return false;
    out.port = static_cast<unsigned>(port);
    return true;
}

}  // namespace

bool SiteLock::HostMatches(const Site& site, const std::string& host) {
    if (!site.below) return host == site.host;
    const std::size_t n = site.host.size();
    return host.size() > n + 1 && host[host.size() - n - 1] == '.' &&
           host.compare(host.size() - n, n, site.host) == 0;
}

SiteLock::SiteLock(const std::string& list) {
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find_first_of(";,", start);
        if (end == std::string::npos) end = list.size();
        std::string entry = list.substr(start, end - start);
        while (!entry.empty() && entry.front() == ' ') entry.erase(0, 1);
        while (!entry.empty() && entry.back() == ' ') entry.pop_back();
        if (!entry.empty()) {
            m_enabled = true;
            Origin origin;
            Site site;
            if (ParseOrigin(entry, origin) && (origin.rest.empty() || origin.rest == "/")) {
                site.below = origin.host.compare(0, 2, "*.") == 0;
                site.host = site.below ? origin.host.substr(2) : origin.host;
                site.scheme = origin.scheme;
                site.port = origin.port;
                if (IsHostName(site.host)) m_sites.push_back(site);
            }
        }
        start = end + 1;
    }
}

bool SiteLock::AllowsAddress(const std::string& address) const {
    Origin origin;
    if (!ParseOrigin(address, origin) || !IsHostName(origin.host)) return false;
    for (const Site& site : m_sites) {
        if (site.scheme == origin.scheme && site.port == origin.port && HostMatches(site, origin.host))
            return true;
    }
    return false;
}

bool SiteLock::CoversHost(const std::string& host) const {
    const std::string name = Lower(host);
    if (!IsHostName(name)) return false;
    for (const Site& site : m_sites) {
        if (HostMatches(site, name)) return true;
    }
    return false;
}

std::string SiteLock::SiteOf(const std::string& address) {
    Origin origin;
    if (!ParseOrigin(address, origin) || !IsHostName(origin.host)) return std::string();
    // A scheme without a default port and no port given has none to spell
    // out: ":0" would be a site its own parser refuses.
    const std::string port = origin.port ? ":" + std::to_string(origin.port) : std::string();
    return origin.scheme + "://" + origin.host + port;
}

bool SiteLock::Allows(const std::optional<std::string>& document,
                      const std::optional<std::string>& top,
                      const std::optional<std::string>& domain) const {
    if (!document || !AllowsAddress(*document) || (top && !AllowsAddress(*top))) return false;
    Origin origin;
    return !domain || (ParseOrigin(*document, origin) && Lower(*domain) == origin.host);
}

}  // namespace trv
