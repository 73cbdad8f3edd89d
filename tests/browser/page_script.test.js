// The page script against a stand-in window (the extension's world). Its
// other world, the page host's object without timers, runs for real in the
// page host's sample-page test and the demo.
"use strict";
const test = require("node:test");
const assert = require("node:assert");
const fs = require("node:fs");
const path = require("node:path");
const vm = require("node:vm");

const SOURCE = fs.readFileSync(path.join(__dirname, "../../browser/page/trvcontrol.js"), "utf8");
const ORIGIN = "http://127.0.0.1:18088";

// A page whose extension answers each posted message with `answer(message)`.
function page(answer) {
  const listeners = [];
  const win = { location: { origin: ORIGIN }, addEventListener: (t, f) => listeners.push(f),
    removeEventListener: () => {} };
  win.deliver = (data, source = win, origin = ORIGIN) =>
    listeners.slice().forEach((f) => f({ source, origin, data: { ns: "trvcontrol", ...data } }));
  win.postMessage = (m) => setTimeout(() => (answer(m) || []).forEach((reply) => win.deliver(...reply)), 0);
  return vm.runInNewContext(SOURCE + ";TRVControl", { window: win, setTimeout, clearTimeout, Promise });
}

const iframe = {};
const hello = (m) => m.type === "page:hello";
const outcome = (p) => p.then((c) => "connected " + c.version, (e) => ["rejected", e.code, e.piece].join(" ").trim());

test("page script: connecting names the missing piece", async () => {
  const cases = [
    ["no extension", () => [], "rejected extension-missing"],
    ["attack: an iframe forges the extension", (m) => hello(m) && [[{ type: "ext:ack" }, iframe], [{ type: "ext:ready", protocol: 1 }, iframe]], "rejected extension-missing"],
    ["attack: another origin forges the extension", (m) => hello(m) && [[{ type: "ext:ack" }, undefined, "http://evil.example"]], "rejected extension-missing"],
    ["host not installed", (m) => hello(m) && [[{ type: "ext:ack" }], [{ type: "ext:error", code: "host-missing" }]], "rejected host-missing"],
    ["host too old", (m) => hello(m) && [[{ type: "ext:ack" }], [{ type: "ext:ready", protocol: 0 }]], "rejected protocol"],
    ["host silent", (m) => hello(m) && [[{ type: "ext:ack" }]], "rejected host-missing"],
    ["all there", (m) => hello(m) && [[{ type: "ext:ack" }], [{ type: "ext:ready", protocol: 1, version: "1.0.0.5" }]], "connected 1.0.0.5"],
  ];
  for (const [name, answer, expected] of cases) {
    assert.strictEqual(await outcome(page(answer).connect({ ackTimeout: 20, readyTimeout: 50 })), expected, name);
  }
});

test("page script: results, failures and events through the extension", async () => {
  const answer = (m) => {
    if (hello(m)) return [[{ type: "ext:ack" }], [{ type: "ext:ready", protocol: 1 }]];
    const reply = (hr, result) => [{ type: "ext:reply", id: m.id, hr, result }];
    if (m.method === "CheckInstall") return [[{ type: "ext:event", name: "InstallCompleteEvent", args: [] }], reply(0, null)];
    if (m.method === "LauncherWebLink") return [reply(0, "1")];
    if (m.method === "ShowUpFileDlg") return [[{ type: "ext:error", code: "host-exited" }]];  // the host ends mid-call
    if (m.method === "UpLoadEnd") return [[{ type: "ext:reply", id: m.id, hr: -2147024891, result: "x" }, iframe], reply(-2147024891, null)];
    return [reply(1, null)];
  };
  const control = await page(answer).connect();
  const seen = [];
  control.on("InstallCompleteEvent", () => seen.push("event"));
  seen.push(await control.CheckInstall());
  seen.push(await control.LauncherWebLink("", "", "x"));
  seen.push(await control.AllowPopUp("evil.example"));  // S_FALSE is not a failure
  seen.push(await control.UpLoadEnd("u", "p").then(() => "resolved", (e) => e.hr));
  for (const next of ["ShowUpFileDlg", "CheckInstall"]) seen.push(await control[next]().then(() => "resolved", (e) => e.code));
  assert.deepStrictEqual(seen, ["event", undefined, "1", undefined, -2147024891, "host-exited", "host-exited"]);
  assert.throws(() => control.on("Click", () => {}), /unknown event/);
});

// A stand-in extension that answers the n-th hello with script[n] (the last
// entry from then on), as the pieces get installed while the page waits.
const ACK = { type: "ext:ack", protocol: 1 };
const ready = (version) => ({ type: "ext:ready", protocol: 1, version });
const error = (code) => ({ type: "ext:error", code });

async function waiting([options, script, cancelAt]) {
  const posted = [];
  const statuses = [];
  let n = 0;
  const api = page((m) => {
    posted.push(m.type);
    return hello(m) ? script[Math.min(n++, script.length - 1)].map((data) => [data]) : [];
  });
  const connecting = api.connect({ ackTimeout: 20, extensionUrl: "store", hostUrl: "host.msi", ...options,
    onStatus: (s, d) => statuses.push([s, d.piece, d.url].filter(Boolean).join(" ")) });
  if (cancelAt) setTimeout(() => connecting.cancel(), cancelAt);
  const result = await outcome(connecting);
  await new Promise((r) => setTimeout(r, 1200));  // nothing more once it is over
  return [result, statuses, posted];
}

test("page script: a waiting connect reports each piece and carries on when it arrives", async () => {
  const cases = [
    ["extension, then host installed meanwhile", [{ wait: true }, [[], [ACK, error("host-missing")], [ACK, ready("1.0.0.5")]]],
      ["connected 1.0.0.5", ["extension-missing store", "connecting", "host-missing host.msi", "connected"],
        ["page:hello", "page:hello", "page:hello"]]],
    ["host older than minVersion is let go, then updated (fields compare as numbers)",
      [{ wait: 8000, minVersion: "1.0.0.9" }, [[ACK, ready("1.0.0.5")], [ACK, ready("1.0.0.10")]]],
      ["connected 1.0.0.10", ["connecting", "outdated host host.msi", "connected"], ["page:hello", "page:close", "page:hello"]]],
    ["extension of another protocol", [{ wait: 500 }, [[{ type: "ext:ack", protocol: 2 }]]],
      ["rejected outdated extension", ["outdated extension store"], ["page:hello"]]],
    ["without wait, a host older than minVersion", [{ minVersion: "1.0.0.6" }, [[ACK, ready("1.0.0.5")]]],
      ["rejected outdated host", ["connecting"], ["page:hello", "page:close"]]],
    ["a page outside the list stops waiting", [{ wait: true }, [[ACK, error("refused")]]],
      ["rejected refused", ["connecting"], ["page:hello"]]],
    ["attack: a busy loop: one try a second until the wait ends", [{ wait: 2500 }, [[]]],
      ["rejected extension-missing", ["extension-missing store"], ["page:hello", "page:hello", "page:hello"]]],
    ["cancel() ends the wait and its tries", [{ wait: 4000 }, [[]], 1500],
      ["rejected cancelled", ["extension-missing store"], ["page:hello", "page:hello"]]],
    ["minVersion that is not a version", [{ minVersion: "1.0.x" }, [[]]], ["rejected bad-option", [], []]],
  ];
  const results = await Promise.all(cases.map(([, row]) => waiting(row)));
  cases.forEach(([name, , expected], i) => assert.deepStrictEqual(results[i], expected, name));
});
