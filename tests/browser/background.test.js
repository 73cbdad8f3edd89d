// The extension's background against a stand-in browser: who may open a host,
// what reaches the host, and how the page learns that the host is gone.
"use strict";
const test = require("node:test");
const assert = require("node:assert");
const fs = require("node:fs");
const path = require("node:path");
const vm = require("node:vm");

const SOURCE = fs.readFileSync(path.join(__dirname, "../../browser/extension/background.js"), "utf8");
const RULE = require("../../browser/extension/site_rule.js");
const PAGE = "http://127.0.0.1:18088/docs/sample-page.html";
const GOOD = { id: "self", tab: { id: 7 }, frameId: 0, url: PAGE, origin: "http://127.0.0.1:18088" };

function fakePort(sender) {
  const hooks = (list) => ({ addListener: (f) => list.push(f) });
  const port = { name: "trvcontrol", sender, posted: [], closed: false, msg: [], gone: [] };
  port.onMessage = hooks(port.msg);
  port.onDisconnect = hooks(port.gone);
  port.postMessage = (m) => port.posted.push(JSON.parse(JSON.stringify(m)));
  port.disconnect = () => { port.closed = true; };
  port.send = (m) => port.msg.forEach((f) => f(m));
  port.drop = () => port.gone.forEach((f) => f(port));
  return port;
}

// Loads the background in a fresh browser; returns a connect(sender) helper.
function browser(withPopups = true) {
  const b = { natives: [], popups: [] };
  const connect = [];
  const chrome = {
    runtime: { id: "self", onConnect: { addListener: (f) => connect.push(f) },
      connectNative: () => { const p = fakePort(); b.natives.push(p); return p; } },
    contentSettings: withPopups ? { popups: { set: (d, done) => { b.popups.push(d.primaryPattern); done(); } } } : undefined,
  };
  vm.runInNewContext(SOURCE, { chrome, TextEncoder, TRVSiteRule: RULE,
    TRV_CONFIG: { sites: ["http://127.0.0.1:18088"], hostName: "kr.co.tarvosk.webcontrol" } });
  b.open = (sender = GOOD) => { const page = fakePort(sender); connect.forEach((f) => f(page)); return page; };
  return b;
}

test("background: only the top frame of a listed page opens a host", () => {
  const cases = [
    ["listed top frame", GOOD, true],
    ["attack: message from an iframe", { ...GOOD, frameId: 3 }, false],
    ["attack: unlisted loopback port", { ...GOOD, url: "http://127.0.0.1:18089/", origin: "http://127.0.0.1:18089" }, false],
    ["attack: opaque origin of a sandboxed page", { ...GOOD, origin: "null" }, false],
    ["attack: origin left out", { ...GOOD, origin: undefined }, false],
    ["attack: another extension", { ...GOOD, id: "other" }, false],
    ["attack: not from a tab", { ...GOOD, tab: undefined }, false],
  ];
  for (const [name, sender, opens] of cases) {
    const b = browser();
    const page = b.open(sender);
    assert.strictEqual(b.natives.length, opens ? 1 : 0, name);
    assert.strictEqual(page.closed, !opens, name);
  }
});

test("background: what the page sends reaches the host, and what never does", () => {
  const b = browser();
  const page = b.open();
  const host = b.natives[0];
  host.send({ type: "hello", protocol: 1, version: "1.0.0.5" });
  page.send({ type: "call", id: 1, method: "UpLoadInfo", args: ["x"], url: "https://evil.example/" });
  page.send({ type: "call", id: 2, method: "ALLOWPOPUP", args: ["127.0.0.1"] });
  page.send({ type: "call", id: 3, method: "AllowPopUp", args: ["evil.example"] });
  page.send({ type: "call", id: 4, method: "AllowPopUp", args: ["*.0.0.1"] });
  page.send({ type: "call", id: 5, method: "UpLoadInfo", args: ["\uac00".repeat(400000)] });
  host.send({ type: "event", name: "UpSelectComplete", args: ["C:\\a"] });
  host.send({ type: "event", name: "InstallCompleteEvent", args: [] });
  host.send({ id: 1, hr: 0, result: null });
  assert.deepStrictEqual(host.posted, [{ id: 1, url: PAGE, method: "UpLoadInfo", args: ["x"] }],
    "attack: page-supplied url, pop-ups through the host, a frame over the host's cap");
  assert.deepStrictEqual(b.popups, ["*://127.0.0.1/*"]);
  assert.deepStrictEqual(page.posted.map((m) => m.type + (m.id ? m.id + ":" + m.hr : m.name || "")), [
    "ext:ready", "ext:reply2:0", "ext:reply3:1", "ext:reply4:1", "ext:reply5:-2147024809",
    "ext:eventInstallCompleteEvent", "ext:reply1:0"]);
  page.drop();
  assert.ok(host.closed, "a page that goes away ends its host");
});

test("background: the page learns why its host is gone", () => {
  const cases = [
    ["host not installed", [], null, "host-missing"],
    ["host speaks another protocol", [{ type: "hello", protocol: 2 }], "open", "protocol"],
    ["host says something before hello", [{ id: 1, hr: 0, result: null }], "open", "protocol"],
    ["host exits after hello", [{ type: "hello", protocol: 1 }], null, "host-exited"],
  ];
  for (const [name, messages, after, code] of cases) {
    const b = browser(false);
    const page = b.open();
    const host = b.natives[0];
    messages.forEach((m) => host.send(m));
    if (after === null) host.drop();
    else assert.ok(host.closed, name + ": the host is told to go");
    const last = page.posted[page.posted.length - 1];
    assert.deepStrictEqual([last.type, last.code], ["ext:error", code], name);
    page.send({ type: "call", id: 9, method: "AllowPopUp", args: ["127.0.0.1"] });
    assert.strictEqual(page.posted[page.posted.length - 1], last, name + ": nothing answered after the end");
  }
});
