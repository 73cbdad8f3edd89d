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
const outcome = (p) => p.then((c) => "connected " + c.version, (e) => "rejected " + e.code);

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
