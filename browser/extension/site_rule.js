// Which page addresses the extension serves. The same rule as the native
// host's and the module's site lock, so the three never disagree about a page:
// entries "scheme://host[:port]", "*.name" for every host below name (not
// name itself), no port meaning the scheme's own, hosts compared without case.
// Addresses with user information or brackets are refused: that is how a
// look-alike address hides its real host.
var TRVSiteRule = (function () {
  "use strict";

  var HOST_NAME_MAX = 253;
  var LABEL_MAX = 63;

  function isHostName(text) {
    if (typeof text !== "string" || text.length === 0 || text.length > HOST_NAME_MAX) return false;
    var labels = text.split(".");
    for (var i = 0; i < labels.length; i++) {
      var label = labels[i];
      if (label.length === 0 || label.length > LABEL_MAX) return false;
      if (!/^[A-Za-z0-9-]+$/.test(label)) return false;
      if (label.charAt(0) === "-" || label.charAt(label.length - 1) === "-") return false;
    }
    return true;
  }

  // ASCII only: toLowerCase() would fold the Kelvin sign into "k" and let a
  // look-alike host through that the native host refuses.
  function lower(text) {
    return text.replace(/[A-Z]+/g, function (upper) { return upper.toLowerCase(); });
  }

  function defaultPort(scheme) {
    if (scheme === "http") return 80;
    if (scheme === "https") return 443;
    return 0;
  }

  // scheme "://" host [":" port], then anything from the first '/', '\',
  // '?' or '#'. Null when the address does not read that way.
  function parseOrigin(text) {
    if (typeof text !== "string") return null;
    var colon = text.indexOf("://");
    if (colon <= 0) return null;
    var scheme = lower(text.substring(0, colon));
    if (!/^[a-z][a-z0-9+.-]*$/.test(scheme)) return null;
    var start = colon + 3;
    var end = text.slice(start).search(/[\/\\?#]/);
    end = end < 0 ? text.length : start + end;
    var authority = text.substring(start, end);
    var rest = text.substring(end);
    if (/[@\[\]]/.test(authority)) return null;
    var portMark = authority.lastIndexOf(":");
    if (portMark < 0) {
      return { scheme: scheme, host: lower(authority), port: defaultPort(scheme), rest: rest };
    }
    var digits = authority.substring(portMark + 1);
    if (!/^[0-9]{1,5}$/.test(digits)) return null;
    var port = parseInt(digits, 10);
    if (port === 0 || port > 65535) return null;
    return { scheme: scheme, host: lower(authority.substring(0, portMark)), port: port, rest: rest };
  }

  // One entry of the list, or null when it does not read as a site.
  function parseSite(entry) {
    var origin = parseOrigin(entry);
    if (!origin || (origin.rest !== "" && origin.rest !== "/")) return null;
    var below = origin.host.indexOf("*.") === 0;
    var host = below ? origin.host.substring(2) : origin.host;
    if (!isHostName(host)) return null;
    return { scheme: origin.scheme, host: host, below: below, port: origin.port };
  }

  // A list whose entries do not read locks everything rather than nothing.
  function parseList(list) {
    var entries = typeof list === "string" ? list.split(/[;,]/) : (list || []);
    var sites = [];
    for (var i = 0; i < entries.length; i++) {
      var entry = String(entries[i]).replace(/^ +| +$/g, "");
      if (entry === "") continue;
      var site = parseSite(entry);
      if (site) sites.push(site);
    }
    return sites;
  }

  function allows(sites, address) {
    var origin = parseOrigin(address);
    if (!origin || !isHostName(origin.host)) return false;
    for (var i = 0; i < sites.length; i++) {
      var site = sites[i];
      if (site.scheme !== origin.scheme || site.port !== origin.port) continue;
      if (!site.below) {
        if (origin.host === site.host) return true;
        continue;
      }
      var n = site.host.length;
      var h = origin.host;
      if (h.length > n + 1 && h.charAt(h.length - n - 1) === "." && h.substring(h.length - n) === site.host) {
        return true;
      }
    }
    return false;
  }

  return { isHostName: isHostName, parseOrigin: parseOrigin, parseSite: parseSite, parseList: parseList, allows: allows };
})();

if (typeof module !== "undefined" && module.exports) module.exports = TRVSiteRule;
