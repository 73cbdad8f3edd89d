// firefox-esr (no driver) with the add-on in a fresh profile and the host in a
// throwaway HOME, against the registered module in the test prefix: a page
// that runs its checks by itself and posts them here.
"use strict";
const test = require("node:test");
const assert = require("node:assert");
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const h = require("../../scripts/browser-rig.js");

const page = (port) => `http://127.0.0.1:${port}/tests/browser/firefox-checks.html`;
let w, server, firefox, dir, log, listed, unlisted;

test.before(async () => {
  w = h.wineSetup();
  dir = fs.mkdtempSync(path.join(os.tmpdir(), "trv-firefox-"));
  log = path.join(w.build, "browser-firefox-clients.log");
  await h.prepareClients(w, log);
  server = h.serve();
  firefox = h.launchFirefox(w, dir, [page(h.LISTED_PORT), page(h.UNLISTED_PORT)]);
  listed = await server.result(`firefox-${h.LISTED_PORT}`, 90000);
  unlisted = await server.result(`firefox-${h.UNLISTED_PORT}`, 30000);
});

test.after(async () => {
  if (firefox) await firefox.stop();
  if (server) server.close();
  await h.closeClients(w);
  fs.rmSync(dir, { recursive: true, force: true });
});

const downloads = () => h.clientLog(log).filter((e) => e.program === "TARVOSKDown.exe" && e.event === "record");
const checks = [
  ["listed page connects to the host", () => assert.deepStrictEqual(
    [listed && listed.connected, listed && listed.error], [true, undefined])],
  ["CheckInstall's InstallCompleteEvent reaches the page before its answer", () =>
    assert.strictEqual(listed.eventsAfterCheckInstall, 1)],
  ["download job reaches the stand-in client as one kind-7 record, Korean path intact", async () => {
    assert.strictEqual(listed.downloadHandedOff, true);
    await h.poll(() => downloads().length > 0, 20000);
    assert.deepStrictEqual(downloads().map((e) => [e.kind, e.text]),
      [[7, "31#<C:\\파이어폭스\\받은 파일.txt"]]);
  }],
  ["attack: a loopback page outside the list gets no API", () => {
    assert.ok(unlisted, "the unlisted page posted nothing");
    assert.strictEqual(unlisted.connected, undefined);
    assert.match(unlisted.error, /^extension-missing: /);
  }],
];
for (const [name, check] of checks) test(name, check);
