// The content script against a stand-in page and runtime: which messages
// reach the background, and which pages get no API at all.
"use strict";
const test = require("node:test");
const assert = require("node:assert");
const fs = require("node:fs");
const path = require("node:path");
const vm = require("node:vm");

const SOURCE = fs.readFileSync(path.join(__dirname, "../../browser/extension/content.js"), "utf8");
const RULE = require("../../browser/extension/site_rule.js");
const OWN = "https://www.tarvosk.co.kr";

// One document: what it posted to itself, and each port's calls to the background.
function load({ href = OWN + "/share/", origin = new URL(href).origin, domain = new URL(href).hostname } = {}) {
  const url = new URL(href);
  const win = { origin, listeners: [], posted: [], ports: [], addEventListener: (t, f) => win.listeners.push(f),
    removeEventListener: (t, f) => { win.listeners = win.listeners.filter((g) => g !== f); } };
  win.top = win;
  win.postMessage = (m, to) => win.posted.push(`${m.type}${m.hr ? ":" + m.hr : m.code ? ":" + m.code : ""} to ${to}`);
  const document = { domain };
  const connect = () => {
    const hook = { addListener() {} };
    const port = { sent: [], closed: false, onMessage: hook, onDisconnect: hook,
      postMessage: (m) => port.sent.push(m.method), disconnect: () => { port.closed = true; } };
    return win.ports.push(port) && port;
  };
  vm.runInNewContext(SOURCE, { window: win, document, location: { href, origin: url.origin, hostname: url.hostname },
    chrome: { runtime: { id: "extension", connect } }, TRVSiteRule: RULE, TRV_CONFIG: { sites: ["https://*.tarvosk.co.kr"] } });
  win.send = (type, fields = {}, source = win) =>
    win.listeners.forEach((f) => f({ source, origin: url.origin, data: { ns: "trvcontrol", type, ...fields } }));
  win.call = (method, source) => win.send("page:call", { id: 1, method, args: ["1"] }, source);
  win.lower = () => { document.domain = "tarvosk.co.kr"; };
  return win;
}

test("content script: what reaches the background, and which pages get no API", () => {
  const [ack, refused] = [`ext:ack to ${OWN}`, `ext:error:refused to ${OWN}`];
  const cases = [
    ["listed top page: one port for two hellos, names without case", {},
      (w) => { w.send("page:hello"); w.send("page:hello"); w.call("uploadinfo"); }, [ack, ack], [["uploadinfo"]]],
    ["attack: another window posts as the page", {}, (w) => { w.send("page:hello", {}, {}); w.call("UpLoadInfo", {}); }, [], []],
    ["attack: unlisted site", { href: "https://tarvosk.co.kr.evil.example/" }, (w) => w.send("page:hello"), [], []],
    ["attack: sandboxed document on a listed host", { origin: "null", domain: "" }, (w) => w.send("page:hello"), [], []],
    ["attack: inherited member called by name", {}, (w) => { w.send("page:hello"); w.call("Release"); },
      [ack, `ext:reply:-2147352570 to ${OWN}`], [[]]],
    ["attack: page lowered document.domain before connecting", {}, (w) => { w.lower(); w.send("page:hello"); },
      [ack, refused], []],
    ["attack: page lowered document.domain while connected", {},
      (w) => { w.send("page:hello"); w.lower(); w.call("UpLoadInfo"); w.send("page:hello"); },
      [ack, `ext:reply:-2147024891 to ${OWN}`, refused, ack, refused], [[]], true],
  ];
  for (const [name, page, steps, posted, sent, closed = false] of cases) {
    const w = load(page);
    steps(w);
    assert.deepStrictEqual([w.posted, w.ports.map((p) => p.sent)], [posted, sent], name);
    assert.ok(w.ports.every((p) => p.closed === closed), name);
  }
});
