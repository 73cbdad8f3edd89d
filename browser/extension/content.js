// The page's side of the extension. Runs in the top frame of the listed sites
// only and relays between the page script (window.postMessage) and the
// background (one runtime port per document). Any script of any page can post
// to this window, so every message is checked before it goes further, and
// nothing is ever posted to another origin than the page's own.

// The content script serving this document, if one already does. A var of
// this world: the page cannot set it, and it hides any element of that id.
var TRVContentScript;

(function () {
  "use strict";

  var NS = "trvcontrol";
  var PROTOCOL = 1;
  var E_INVALIDARG = -2147024809;
  var E_UNEXPECTED = -2147418113;
  var E_ACCESSDENIED = -2147024891;
  var DISP_E_UNKNOWNNAME = -2147352570;
  // The twelve methods, as IDispatch matches them: without regard to case.
  // The interface's inherited members (Release, Invoke, ...) are no method.
  var METHODS = new RegExp("^(CheckInstall|AllowPopUp|ShowUpFileDlg|SelectComplete|UpLoadInit|UpLoadInfo|" +
                           "UpLoadEnd|DownLoadInit|DownLoadInfo|DownLoadEnd|LauncherExplorer|LauncherWebLink)$", "i");
  var MAX_ARGS = 16;
  var EXT_TYPES = { "ext:ready": true, "ext:reply": true, "ext:event": true, "ext:error": true };

  if (window.top !== window) return;
  // The match patterns cannot say a port; the list can.
  if (!TRVSiteRule.allows(TRVSiteRule.parseList(TRV_CONFIG.sites), location.href)) return;
  // A sandboxed document (an opaque origin: users' uploaded HTML, typically)
  // is not the listed page, whatever its address says.
  if (window.origin === "null" || lowered()) return;

  // A page that lowered document.domain shares its window with every page
  // under that parent domain, which could then post as the page itself.
  function lowered() {
    return document.domain !== location.hostname;
  }

  // One content script per document. The browser's own and the one the
  // background puts into open tabs when the extension is installed or
  // updated can meet here; and one whose extension was updated stays in the
  // page with its connection to the extension gone. The live one answers.
  var runtime = chrome.runtime;
  function alive() {
    try {
      return Boolean(runtime && runtime.id);
    } catch (e) {
      return false;
    }
  }
  var serving = TRVContentScript;
  if (serving && typeof serving.alive === "function" && serving.alive()) return;
  if (serving && typeof serving.retire === "function") serving.retire();
  TRVContentScript = { alive: alive, retire: retire };

  var CONNECT_MS = 1000;  // a new host at most about once a second, however often the page says hello
  var lastConnect = 0;
  var deferred = null;

  var origin = location.origin;
  var port = null;
  var ready = null;  // ext:ready, or the ext:error that ended the connection
  var over = false;

  function post(message) {
    message.ns = NS;
    window.postMessage(message, origin);
  }

  // A new connection once the last one is over (the host ended, say): still
  // one port per document at a time.
  function connect() {
    lastConnect = new Date().getTime();
    var own = chrome.runtime.connect({ name: NS });
    if (port) {
      try {
        port.disconnect();
      } catch (e) {
        // already gone
      }
    }
    port = own;
    ready = null;
    over = false;
    own.onMessage.addListener(function (message) {
      if (own !== port) return;
      if (!message || typeof message !== "object" || !EXT_TYPES.hasOwnProperty(message.type)) return;
      if (message.type === "ext:ready" || message.type === "ext:error") ready = message;
      if (message.type === "ext:error") over = true;
      post(message);
    });
    own.onDisconnect.addListener(function () {
      if (own !== port || over) return;
      over = true;
      ready = { type: "ext:error", code: "host-exited", message: "the extension closed the connection" };
      post(ready);
    });
  }

  // A page that says hello again and again gets one new connection a
  // second at most, with one timer.
  function connectPaced() {
    if (deferred !== null) return;
    var due = lastConnect + CONNECT_MS - new Date().getTime();
    if (due <= 0) return connect();
    deferred = setTimeout(function () {
      deferred = null;
      if (!port || over) connect();
    }, due);
  }

  function disconnect() {
    if (deferred !== null) clearTimeout(deferred);
    deferred = null;
    if (port) {
      try {
        port.disconnect();
      } catch (e) {
        // already gone
      }
    }
    over = true;
  }

  // The page is done with this connection (a host too old for it, say): its
  // host goes, and the next hello starts another.
  function close() {
    disconnect();
    ready = { type: "ext:error", code: "host-exited", message: "the page closed the connection" };
  }

  function retire() {
    window.removeEventListener("message", listen);
    close();
  }

  // For good: the domain cannot be raised again.
  function refuse() {
    disconnect();
    ready = { type: "ext:error", code: "refused", message: "the page lowered document.domain" };
    post(JSON.parse(JSON.stringify(ready)));
  }

  function isPrimitive(value) {
    var kind = typeof value;
    return value === null || kind === "string" || kind === "number" || kind === "boolean";
  }

  // Only plain values reach the host; the host answers wrong kinds itself.
  function callFrom(data) {
    var id = data.id;
    if (typeof id !== "number" || id !== Math.floor(id) || id < 0 || id > 9007199254740991) return null;
    var call = { type: "call", id: id, method: data.method, args: [] };
    var args = data.args;
    if (typeof call.method !== "string" || call.method.length > 64 || !Array.isArray(args) || args.length > MAX_ARGS) {
      call.bad = true;
      return call;
    }
    call.unknown = !METHODS.test(call.method);
    for (var i = 0; i < args.length; i++) {
      if (!isPrimitive(args[i])) {
        call.bad = true;
        return call;
      }
      call.args.push(args[i]);
    }
    return call;
  }

  function listen(event) {
    if (!alive()) return retire();
    if (event.source !== window || event.origin !== origin) return;
    var data = event.data;
    if (!data || typeof data !== "object" || data.ns !== NS) return;
    if (data.type === "page:hello") {
      post({ type: "ext:ack", protocol: PROTOCOL });
      if (lowered()) refuse();
      else if (!port || over) connectPaced();
      else if (ready) post(JSON.parse(JSON.stringify(ready)));
    } else if (data.type === "page:call") {
      var call = callFrom(data);
      if (!call) return;  // no id to answer to
      if (call.bad) {
        post({ type: "ext:reply", id: call.id, hr: E_INVALIDARG, result: null });
      } else if (call.unknown) {
        post({ type: "ext:reply", id: call.id, hr: DISP_E_UNKNOWNNAME, result: null });
      } else if (lowered()) {
        post({ type: "ext:reply", id: call.id, hr: E_ACCESSDENIED, result: null });
        refuse();
      } else if (!port || over) {  // no hello yet, or the connection is over
        post({ type: "ext:reply", id: call.id, hr: E_UNEXPECTED, result: null });
      } else {
        port.postMessage(call);
      }
    } else if (data.type === "page:close") {
      close();
    }
  }
  window.addEventListener("message", listen);
})();
