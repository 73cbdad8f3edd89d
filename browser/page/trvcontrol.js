// trvcontrol.js: one script for the TARVOSK control in every browser.
//
//   TRVControl.connect({ object: "WebBBS" }).then(function (control) {
//     control.on("UpSelectComplete", function (strPath, strSize, strMode) { ... });
//     return control.DownLoadInit();
//   });
//
// Where the page's <object> answers (Internet Explorer, Edge's IE mode, the
// page host) the methods call it directly, and its events reach the script
// through the page's own event blocks, one line each:
//
//   <script for="WebBBS" event="InstallCompleteEvent()">
//     TRVControl.controlEvent("InstallCompleteEvent", []);
//   </script>
//   <script for="WebBBS" event="UpSelectComplete(strPath, strSize, strMode)">
//     TRVControl.controlEvent("UpSelectComplete", [strPath, strSize, strMode]);
//   </script>
//
// Elsewhere it talks to the TARVOSK Web Control extension, which runs the same
// module through its native host. Every method returns a promise: of the
// string for LauncherWebLink, of undefined for the others; a failure HRESULT
// rejects it with an Error whose .hr is that HRESULT. connect() rejects with
// an Error whose .code names the missing piece and whose .url says where to
// get it: "control-missing" (IE mode, or no browser at all), "extension-missing"
// (no answer within options.ackTimeout, 1 s), "host-missing" (no host within
// options.readyTimeout, 30 s), "host-exited", "protocol", "refused". Options:
// object, ackTimeout, readyTimeout (ms), controlUrl, extensionUrl, hostUrl.
//
// A first visit need not fail: connect({ wait: true, onStatus: f }) (or wait:
// ms) keeps trying about once a second until the extension and its host are
// there, calling f(status, detail) on each change: "extension-missing",
// "host-missing", "outdated" (detail.piece "extension" or "host"),
// "connecting", "connected"; detail.code and detail.url name the piece and
// where to get it. The promise has cancel(). minVersion: "1.0.0.5" makes an
// older module "outdated" with piece "host"; with either option an extension
// of another protocol is "outdated" with piece "extension" (else "protocol").
//
// Old engines run it too (Internet Explorer's, and the page host's, which has
// no timers): no trailing commas, no reserved words after a dot, no ES5
// library calls. Without timers the promise below runs its callbacks at once,
// so a page's steps keep their order.
var TRVControl = (function () {
  var NS = "trvcontrol";
  var PROTOCOL = 1;
  var METHODS = ["CheckInstall", "AllowPopUp", "ShowUpFileDlg", "SelectComplete", "UpLoadInit", "UpLoadInfo",
                 "UpLoadEnd", "DownLoadInit", "DownLoadInfo", "DownLoadEnd", "LauncherExplorer", "LauncherWebLink"];
  var EVENTS = { InstallCompleteEvent: true, UpSelectComplete: true };
  var DISP_E_BADPARAMCOUNT = -2147352562;
  var ACK_MS = 1000;      // the content script answers at once when it is there
  var READY_MS = 30000;   // a host's first start (under Wine) takes seconds
  var EXTENSION_URL = "https://www.tarvosk.co.kr/webcontrol/";
  // The host's per-user package: it needs no administrator rights.
  var HOST_URL = "https://www.tarvosk.co.kr/webcontrol/TRVBridge-user.msi";
  var CONTROL_URL = "https://www.tarvosk.co.kr/webcontrol/control/";

  var hasTimers = typeof setTimeout !== "undefined";
  var nextId = 1;           // unique on the page, across connections
  var controlApis = [];     // connections to the page's object, for controlEvent

  function later(fn) {
    if (hasTimers) setTimeout(fn, 0);
    else fn();
  }

  function isArray(value) {
    return Object.prototype.toString.call(value) === "[object Array]";
  }

  function has(table, key) {
    return Object.prototype.hasOwnProperty.call(table, key);
  }

  // ---- a minimal promise, for engines without one (or without timers) ----

  function MiniPromise(executor) {
    var self = this;
    self.state = 0;  // 1 fulfilled, 2 rejected
    self.value = undefined;
    self.queue = [];
    function settle(state, value) {
      if (self.state || self.settling) return;
      if (state === 1 && value && (typeof value === "object" || typeof value === "function")) {
        var then;
        try {
          then = value.then;
        } catch (e) {
          settle(2, e);
          return;
        }
        if (typeof then === "function") {
          self.settling = true;
          var done = false;
          var adopt = function (s) {
            return function (v) {
              if (done) return;
              done = true;
              self.settling = false;
              settle(s, v);
            };
          };
          try {
            then.call(value, adopt(1), adopt(2));
          } catch (e2) {
            adopt(2)(e2);
          }
          return;
        }
      }
      self.state = state;
      self.value = value;
      var queue = self.queue;
      self.queue = [];
      for (var i = 0; i < queue.length; i++) self.run(queue[i]);
    }
    try {
      executor(function (v) { settle(1, v); }, function (r) { settle(2, r); });
    } catch (e) {
      settle(2, e);
    }
  }

  MiniPromise.prototype.run = function (entry) {
    var self = this;
    later(function () {
      var callback = self.state === 1 ? entry.fulfilled : entry.rejected;
      if (typeof callback !== "function") {
        if (self.state === 1) entry.resolve(self.value);
        else entry.reject(self.value);
        return;
      }
      var result;
      try {
        result = callback(self.value);
      } catch (e) {
        entry.reject(e);
        return;
      }
      entry.resolve(result);
    });
  };

  MiniPromise.prototype.then = function (fulfilled, rejected) {
    var self = this;
    return new MiniPromise(function (resolve, reject) {
      var entry = { fulfilled: fulfilled, rejected: rejected, resolve: resolve, reject: reject };
      if (self.state) self.run(entry);
      else self.queue.push(entry);
    });
  };

  MiniPromise.prototype["catch"] = function (rejected) {
    return this.then(null, rejected);
  };

  // The browser's own promise where it has one and timers to run it.
  var P = hasTimers && typeof Promise !== "undefined" ? Promise : MiniPromise;

  function failure(message, fields) {
    var error = new Error(message);
    error.message = message;  // old engines leave it empty
    for (var key in fields) if (has(fields, key)) error[key] = fields[key];
    return error;
  }

  function hex(hr) {
    var text = (hr < 0 ? hr + 4294967296 : hr).toString(16).toUpperCase();
    while (text.length < 8) text = "0" + text;
    return "0x" + text;
  }

  function hrFailure(method, hr, description) {
    return failure(method + " failed (" + hex(hr) + (description ? ": " + description : "") + ")", { hr: hr });
  }

  // ---- one connection: the methods, on() and event delivery ----

  function newApi(call) {
    var api = { handlers: {} };
    api.on = function (name, handler) {
      if (!has(EVENTS, name)) throw failure("unknown event " + name, { code: "unknown-event" });
      if (typeof handler !== "function") throw failure("the handler of " + name + " is not a function", {});
      if (!has(api.handlers, name)) api.handlers[name] = [];
      api.handlers[name].push(handler);
      return api;
    };
    for (var i = 0; i < METHODS.length; i++) {
      api[METHODS[i]] = (function (name) {
        return function () {
          var args = [];
          for (var k = 0; k < arguments.length; k++) args.push(arguments[k]);
          return call(name, args);
        };
      })(METHODS[i]);
    }
    return api;
  }

  function emit(api, name, args, guarded) {
    var list = has(api.handlers, name) ? api.handlers[name] : [];
    for (var i = 0; i < list.length; i++) {
      if (!guarded) {
        list[i].apply(null, args);
        continue;
      }
      // One failing handler must not silence the others or the connection.
      try {
        list[i].apply(null, args);
      } catch (e) {
        later(function () { throw e; });
      }
    }
  }

  // ---- the page's object ----

  function answers(object) {
    try {
      return typeof object.CheckInstall !== "undefined";
    } catch (e) {
      return false;
    }
  }

  function findControl(object) {
    var candidate = null;
    if (object && typeof object !== "string") {
      candidate = object;
    } else if (typeof object === "string" && object !== "") {
      if (typeof document !== "undefined" && document && document.getElementById) {
        candidate = document.getElementById(object);
      } else if (/^[A-Za-z_$][A-Za-z0-9_$]*$/.test(object)) {
        // The page host has no document: the object is a global by its id.
        try {
          candidate = eval(object);
        } catch (e) {
          candidate = null;
        }
      }
    }
    return candidate && answers(candidate) ? candidate : null;
  }

  // COM methods have no apply(): one call per argument count.
  function invoke(control, name, a) {
    switch (a.length) {
      case 0: return control[name]();
      case 1: return control[name](a[0]);
      case 2: return control[name](a[0], a[1]);
      case 3: return control[name](a[0], a[1], a[2]);
    }
    throw failure(name + " takes at most 3 arguments", { hr: DISP_E_BADPARAMCOUNT });
  }

  function controlConnection(control) {
    var api = newApi(function (name, args) {
      return new P(function (resolve, reject) {
        var result;
        try {
          result = invoke(control, name, args);
        } catch (e) {
          reject(typeof e.hr === "number" ? e : hrFailure(name, typeof e.number === "number" ? e.number : -2147467259,
                                                          e.description || e.message));
          return;
        }
        resolve(name === "LauncherWebLink" ? String(result) : undefined);
      });
    });
    controlApis.push(api);
    return api;
  }

  // ---- the extension ----

  var RETRY_MS = 1000;           // a waiting page tries about once a second
  var OLD_HOST_RETRY_MS = 5000;  // each try with a host too old starts that program again

  var hostMessages = {
    "host-missing": "the TARVOSK Web Control host program is not installed on this computer",
    "host-exited": "the TARVOSK Web Control host program ended",
    "protocol": "the TARVOSK Web Control host program is too old or too new for this extension",
    "refused": "this page is not one of the sites the extension serves"
  };

  // "1.0.0.5": one to four numbers, a missing one counting as 0; null when
  // the text does not read so.
  function versionFields(text) {
    if (typeof text !== "string" || !/^[0-9]{1,9}(\.[0-9]{1,9}){0,3}$/.test(text)) return null;
    var parts = text.split(".");
    var fields = [];
    for (var i = 0; i < 4; i++) fields.push(i < parts.length ? parseInt(parts[i], 10) : 0);
    return fields;
  }

  // Field by field as numbers (1.0.0.10 is newer than 1.0.0.9); a version
  // that does not read is older than any.
  function olderThan(version, min) {
    var fields = versionFields(version);
    if (!fields) return true;
    for (var i = 0; i < 4; i++) if (fields[i] !== min[i]) return fields[i] < min[i];
    return false;
  }

  // Tries to reach the host through the extension. Without options.wait a
  // try that finds a piece missing fails the connection, with the codes it
  // always had; with it the page hears of each change through
  // options.onStatus and the next try follows (one at a time, one timer, one
  // listener). Returns the wait's cancel().
  function extensionConnection(options, resolve, reject) {
    var origin = window.location.origin || window.location.protocol + "//" + window.location.host;
    var ackMs = options.ackTimeout > 0 ? options.ackTimeout : ACK_MS;
    var readyMs = options.readyTimeout > 0 ? options.readyTimeout : READY_MS;
    var extensionUrl = options.extensionUrl || EXTENSION_URL;
    var hostUrl = options.hostUrl || HOST_URL;
    // wait: true until the pieces are there, a number of ms at most that long.
    var waitMs = options.wait === true ? -1 : typeof options.wait === "number" && options.wait > 0 ? options.wait : 0;
    var minVersion = options.minVersion === undefined ? null : versionFields(options.minVersion);
    // Either option asks for "outdated" with the piece; without them a page
    // gets the codes it always got.
    var named = waitMs !== 0 || minVersion !== null;
    var onStatus = typeof options.onStatus === "function" ? options.onStatus : null;
    var phase = "ack";    // of the current try: "ack", "ready", "pause"; then "open" or "over"
    var started = 0;      // when the current try began
    var status = "";      // the last status reported
    var missing = null;   // the Error of the last try that fell short
    var ended = null;     // the Error that ended the connection
    var pending = {};
    var timer = null;     // the current try's wait, or the pause before the next
    var deadline = null;  // the end of options.wait

    var api = newApi(function (name, args) {
      return new P(function (resolve, reject) {
        if (ended) {
          reject(ended);
          return;
        }
        var id = nextId++;
        pending[id] = { method: name, resolve: resolve, reject: reject };
        window.postMessage({ ns: NS, type: "page:call", id: id, method: name, args: args }, origin);
      });
    });

    function post(type) {
      window.postMessage({ ns: NS, type: type }, origin);
    }

    function wait(ms, onTimeout) {
      if (timer !== null) clearTimeout(timer);
      timer = onTimeout ? setTimeout(onTimeout, ms) : null;
    }

    function report(next, detail) {
      var key = next + (detail.piece ? ":" + detail.piece : "");
      if (key === status) return;
      status = key;
      if (!onStatus) return;
      try {
        onStatus(next, detail);
      } catch (e) {
        later(function () { throw e; });  // the page's fault must not stop the wait
      }
    }

    // close: the current try reached the content script, which may hold a
    // host for this page; let it go.
    function end(error, close) {
      if (ended) return;
      ended = error;
      var open = phase === "open";
      phase = "over";
      wait(0, null);
      if (deadline !== null) clearTimeout(deadline);
      window.removeEventListener("message", listen, false);
      if (close) post("page:close");
      var calls = pending;
      pending = {};
      for (var id in calls) if (has(calls, id)) calls[id].reject(error);
      if (!open) reject(error);
    }

    function extensionMissing() {
      return failure("the TARVOSK Web Control extension is not installed in this browser" +
                     " (or does not serve this page); get it at " + extensionUrl, { code: "extension-missing", url: extensionUrl });
    }

    function hostMissing(why) {
      return failure(hostMessages["host-missing"] + " (" + why + "); get it at " + hostUrl,
                     { code: "host-missing", url: hostUrl });
    }

    function outdated(piece, why) {
      var url = piece === "host" ? hostUrl : extensionUrl;
      return failure("the TARVOSK Web Control " + (piece === "host" ? "host program" : "extension") +
                     " does not fit this page (" + why + "); get the current one at " + url,
                     { code: "outdated", piece: piece, url: url });
    }

    // A try that fell short: without wait the connection fails with it.
    function miss(error, close, pause) {
      if (waitMs === 0) return end(error, close);
      missing = error;
      phase = "pause";
      if (close) post("page:close");
      report(error.code, { code: error.code, url: error.url, piece: error.piece, message: error.message });
      wait(Math.max(0, pause - (new Date().getTime() - started)), attempt);
    }

    function attempt() {
      phase = "ack";
      started = new Date().getTime();
      wait(ackMs, function () { miss(extensionMissing(), false, RETRY_MS); });
      post("page:hello");
    }

    function acknowledged(data) {
      if (named && data.protocol !== PROTOCOL) {
        return miss(outdated("extension", "it speaks protocol " + data.protocol + ", the page " + PROTOCOL), false,
                    RETRY_MS);
      }
      phase = "ready";
      if (status === "" || status === "extension-missing") report("connecting", {});
      wait(readyMs, function () {
        var error = hostMissing("no answer in " + readyMs / 1000 + " s");
        if (named) miss(error, true, RETRY_MS);
        else end(error);
      });
    }

    function hostReady(data) {
      if (data.protocol !== PROTOCOL) {
        if (!named) {
          return end(failure(hostMessages.protocol + "; get the current one at " + hostUrl,
                             { code: "protocol", url: hostUrl }));
        }
        return miss(outdated("extension", "it speaks protocol " + data.protocol + ", the page " + PROTOCOL), true,
                    RETRY_MS);
      }
      var version = String(data.version);
      if (minVersion && olderThan(version, minVersion)) {
        return miss(outdated("host", "module " + version + ", the page needs " + options.minVersion), true,
                    OLD_HOST_RETRY_MS);
      }
      phase = "open";
      wait(0, null);
      if (deadline !== null) clearTimeout(deadline);
      api.version = version;
      report("connected", { version: version });
      resolve(api);
    }

    function hostError(data) {
      var code = has(hostMessages, data.code) ? data.code : "host-exited";
      var url = code === "refused" ? extensionUrl : hostUrl;
      var why = data.message ? " (" + data.message + ")" : "";
      var error = failure(hostMessages[code] + why + "; get it at " + url, { code: code, url: url });
      if (phase === "open" || !named || code === "refused") return end(error);
      if (code === "protocol") return miss(outdated("host", hostMessages.protocol + why), false, OLD_HOST_RETRY_MS);
      miss(hostMissing(data.message || code), false, RETRY_MS);
    }

    function listen(event) {
      if (event.source !== window || event.origin !== origin) return;
      var data = event.data;
      if (!data || typeof data !== "object" || data.ns !== NS || ended) return;
      if (data.type === "ext:ack" && phase === "ack") {
        acknowledged(data);
      } else if (data.type === "ext:ready" && phase === "ready") {
        hostReady(data);
      } else if (data.type === "ext:error" && (phase === "ready" || phase === "open")) {
        hostError(data);
      } else if (data.type === "ext:reply" && has(pending, data.id)) {
        var call = pending[data.id];
        delete pending[data.id];
        if (typeof data.hr !== "number" || data.hr < 0) {
          call.reject(hrFailure(call.method, typeof data.hr === "number" ? data.hr : -2147467259, ""));
        } else {
          call.resolve(call.method === "LauncherWebLink" ? String(data.result === null ? "" : data.result) : undefined);
        }
      } else if (data.type === "ext:event" && phase === "open" && has(EVENTS, data.name) && isArray(data.args)) {
        emit(api, data.name, data.args, true);
      }
    }

    // The extension serves http and https pages only; a file's origin
    // cannot even be posted to.
    if (!/^https?:\/\//.test(origin)) {
      reject(failure(hostMessages.refused + " (" + origin + ")", { code: "refused", url: extensionUrl }));
      return function () {};
    }
    window.addEventListener("message", listen, false);
    if (waitMs > 0) {
      deadline = setTimeout(function () {
        deadline = null;
        end(phase === "pause" ? missing : phase === "ready" ? hostMissing("no answer yet") : extensionMissing(),
            phase === "ready");
      }, waitMs);
    }
    attempt();
    return function cancel() {
      if (!ended && phase !== "open") {
        end(failure("the page stopped waiting for TARVOSK Web Control", { code: "cancelled" }), phase === "ready");
      }
    };
  }

  function connect(options) {
    options = options || {};
    var cancel = null;
    var connecting = new P(function (resolve, reject) {
      if (options.minVersion !== undefined && !versionFields(options.minVersion)) {
        reject(failure("minVersion " + options.minVersion + " is not a version of one to four numbers",
                       { code: "bad-option" }));
        return;
      }
      var control = findControl(options.object);
      var browser = typeof window !== "undefined" && window && window.postMessage && window.addEventListener &&
                    hasTimers;
      // Internet Explorer (and Edge's IE mode) has no extensions: only the control can serve there.
      var ie = browser && "ActiveXObject" in window;
      if (control) {
        resolve(controlConnection(control));
        if (typeof options.onStatus === "function") {
          try {
            options.onStatus("connected", {});
          } catch (e) {
            later(function () { throw e; });
          }
        }
      } else if (browser && !ie) {
        cancel = extensionConnection(options, resolve, reject);
      } else {
        var url = options.controlUrl || CONTROL_URL;
        reject(failure("the TARVOSK control is not installed (no answer from object " + options.object +
                       " on the page); get it at " + url, { code: "control-missing", url: url }));
      }
    });
    // The wait ends at once, rejecting with code "cancelled"; a connection
    // already made is left alone.
    connecting.cancel = function () {
      if (cancel) cancel();
    };
    return connecting;
  }

  // Called by the page's event blocks in IE mode and the page host.
  function controlEvent(name, args) {
    if (!has(EVENTS, name)) return;
    var list = isArray(args) ? args : [];
    for (var i = 0; i < controlApis.length; i++) emit(controlApis[i], name, list, false);
  }

  return { connect: connect, controlEvent: controlEvent, Promise: P };
})();

// The same object for CommonJS (and the bundlers that read it) and AMD; a
// plain <script> has the global above.
if (typeof module === "object" && module && module.exports) {
  module.exports = TRVControl;
} else if (typeof define === "function" && define.amd) {
  define("trvcontrol", [], function () { return TRVControl; });
}
