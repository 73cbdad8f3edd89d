// The extension's background: one native host process per page. A page port
// comes from our content script; who the page is comes from the browser
// (sender), never from the page, and is checked against the list again here.
if (typeof importScripts === "function" && typeof TRV_CONFIG === "undefined") {
  importScripts("config.js", "site_rule.js");  // Chrome's service worker
}

(function () {
  "use strict";

  var NS = "trvcontrol";
  var PROTOCOL = 1;
  var S_OK = 0;
  var S_FALSE = 1;
  var E_INVALIDARG = -2147024809;
  var DISP_E_BADPARAMCOUNT = -2147352562;
  var DISP_E_TYPEMISMATCH = -2147352571;
  var MAX_FRAME = 1024 * 1024;  // the host's cap on one message
  var EVENT_ARITY = { InstallCompleteEvent: 0, UpSelectComplete: 3 };

  var sites = TRVSiteRule.parseList(TRV_CONFIG.sites);
  var encoder = new TextEncoder();

  function isInteger(value) {
    return typeof value === "number" && value === Math.floor(value) && Math.abs(value) <= 9007199254740991;
  }

  function isStrings(list, count) {
    if (!Array.isArray(list) || list.length !== count) return false;
    for (var i = 0; i < list.length; i++) if (typeof list[i] !== "string") return false;
    return true;
  }

  // The top frame of a listed page, through our own content script.
  function senderAllowed(sender) {
    if (!sender || sender.id !== chrome.runtime.id || !sender.tab || sender.frameId !== 0) return false;
    // Both browsers give the origin; a sandboxed document's is "null".
    return TRVSiteRule.allows(sites, sender.url) && TRVSiteRule.allows(sites, sender.origin);
  }

  // Pop-ups for the page's own host only; where the browser has no such
  // setting (Firefox) the answer is S_FALSE, as for a list that cannot be written.
  function allowPopUp(args, url, reply) {
    if (args.length !== 1) return reply(DISP_E_BADPARAMCOUNT, null);
    var site = args[0];
    if (typeof site !== "string") return reply(DISP_E_TYPEMISMATCH, null);
    var own = TRVSiteRule.parseOrigin(url).host;
    var popups = chrome.contentSettings && chrome.contentSettings.popups;
    if (!TRVSiteRule.isHostName(site) || site.toLowerCase() !== own || !popups) return reply(S_FALSE, null);
    popups.set({ primaryPattern: "*://" + own + "/*", setting: "allow" }, function () {
      reply(chrome.runtime.lastError ? S_FALSE : S_OK, null);
    });
  }

  chrome.runtime.onConnect.addListener(function (page) {
    var sender = page.sender;
    if (page.name !== NS || !senderAllowed(sender)) {
      page.postMessage({ type: "ext:error", code: "refused", message: "this page is not served by the extension" });
      page.disconnect();
      return;
    }
    var url = sender.url;
    var hello = false;
    var over = false;
    var hostError = "";
    var native = null;

    function end(code, message) {
      if (over) return;
      over = true;
      try {
        page.postMessage({ type: "ext:error", code: code, message: message });
      } catch (e) {
        // the page went away first
      }
      if (native) {
        try {
          native.disconnect();
        } catch (e) {
          // already gone
        }
      }
    }

    function reply(id, hr, result) {
      if (!over) page.postMessage({ type: "ext:reply", id: id, hr: hr, result: result });
    }

    native = chrome.runtime.connectNative(TRV_CONFIG.hostName);
    native.onMessage.addListener(function (m) {
      if (over) return;
      if (!m || typeof m !== "object") return end("protocol", "the host sent something that is not a message");
      if (!hello) {
        if (m.type !== "hello") return end("protocol", "the host did not say hello first");
        if (m.protocol !== PROTOCOL) {
          return end("protocol", "the host speaks protocol " + m.protocol + ", the extension speaks " + PROTOCOL +
                     "; install the host that comes with this extension");
        }
        hello = true;
        page.postMessage({ type: "ext:ready", protocol: PROTOCOL, version: typeof m.version === "string" ? m.version : "" });
      } else if (m.type === "event") {
        if (EVENT_ARITY.hasOwnProperty(m.name) && isStrings(m.args, EVENT_ARITY[m.name])) {
          page.postMessage({ type: "ext:event", name: m.name, args: m.args });
        }
      } else if (m.type === "error") {
        hostError = String(m.message);  // the host exits next
      } else if (isInteger(m.id) && isInteger(m.hr) && (typeof m.result === "string" || m.result === null)) {
        reply(m.id, m.hr | 0, m.result);
      }
    });
    native.onDisconnect.addListener(function (port) {
      var error = (port && port.error) || chrome.runtime.lastError;
      var why = error && error.message ? ": " + error.message : "";
      if (!hello) {
        end("host-missing", "the native host " + TRV_CONFIG.hostName + " is not installed or did not start" + why);
      } else {
        end("host-exited", "the native host ended" + (hostError ? ": " + hostError : why));
      }
    });

    page.onMessage.addListener(function (m) {
      if (over || !m || m.type !== "call" || !isInteger(m.id)) return;
      var id = m.id;
      if (typeof m.method !== "string" || !Array.isArray(m.args)) return reply(id, E_INVALIDARG, null);
      // Names are matched without case, as IDispatch does; this one never reaches the host.
      if (m.method.toLowerCase() === "allowpopup") {
        return allowPopUp(m.args, url, function (hr, result) { reply(id, hr, result); });
      }
      var request = { id: id, url: url, method: m.method, args: m.args };
      if (encoder.encode(JSON.stringify(request)).length > MAX_FRAME) return reply(id, E_INVALIDARG, null);
      native.postMessage(request);
    });
    // Navigation or a closed tab ends the page's port: the host sees its input end and exits.
    page.onDisconnect.addListener(function () {
      over = true;
      native.disconnect();
    });
  });
})();

// Chrome and Edge put the declared content script only into pages loaded
// after the extension: on install or update the open tabs of the listed sites
// get it now, top frames only, so a page waiting for the extension carries on
// without a reload. Firefox does this itself and has no "scripting" here.
(function () {
  "use strict";

  var FILES = ["config.js", "site_rule.js", "content.js"];
  if (!chrome.scripting || !chrome.tabs || !chrome.runtime.onInstalled) return;
  var sites = TRVSiteRule.parseList(TRV_CONFIG.sites);

  chrome.runtime.onInstalled.addListener(function (details) {
    if (details.reason !== "install" && details.reason !== "update") return;
    // Only tabs of the listed sites show their address to the extension.
    chrome.tabs.query({}, function (tabs) {
      for (var i = 0; tabs && i < tabs.length; i++) {
        if (tabs[i].discarded || !TRVSiteRule.allows(sites, tabs[i].url)) continue;
        chrome.scripting.executeScript({ target: { tabId: tabs[i].id, frameIds: [0] }, files: FILES }, function () {
          return chrome.runtime.lastError;  // a tab that went away or cannot be scripted
        });
      }
    });
  });
})();
