// A first visit in Debian's chromium: the sample page is open before the
// extension and its host are installed; it guides, and carries on by itself
// as each piece arrives (the extension through the rig's install, the host
// registered for the profile), with no reload.
"use strict";
const test = require("node:test");
const assert = require("node:assert");
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const h = require("../../scripts/browser-rig.js");

const SAMPLE = `http://127.0.0.1:${h.LISTED_PORT}/docs/sample-page.html`;
let w, server, context, page, profile, pids;

test.before(async () => {
  w = h.wineSetup();
  profile = fs.mkdtempSync(path.join(os.tmpdir(), "trv-first-run-"));
  server = h.serve();
  context = await h.launchChromium(w, profile, { later: true });
  page = await context.newPage();
  await page.goto(SAMPLE);
  await page.evaluate(() => { window.sameDocument = true; });
});

test.after(async () => {
  if (context) await context.close();
  if (server) server.close();
  fs.rmSync(profile, { recursive: true, force: true });
});

// The guide's two steps as the user sees them, and what connect() without
// wait answers meanwhile.
const guide = () => page.evaluate(() => TRVControl.connect().then(() => "connected", (e) => e.code).then((code) =>
  [document.getElementById("guide-extension").className, document.getElementById("guide-host").className, code,
    window.sameDocument === true]));
const until = async (expected) => {
  await h.poll(async () => JSON.stringify(await guide()) === JSON.stringify(expected), 30000, 500);
  assert.deepStrictEqual(await guide(), expected);
};
// Every hello the page posts, and every acknowledgement, for `ms`.
const helloAndAcks = (ms) => page.evaluate((ms) => new Promise((resolve) => {
  const seen = { "page:hello": 0, "ext:ack": 0 };
  const count = (e) => { if (e.data && seen[e.data.type] !== undefined) seen[e.data.type]++; };
  window.addEventListener("message", count);
  setTimeout(() => { window.removeEventListener("message", count); resolve(seen); }, ms);
}), ms);

const checks = [
  ["no extension: the guide sends the user to the store; connect() without wait fails as before", () =>
    until(["missing", "waiting", "extension-missing", true])],
  ["the extension installed: the open page reaches the host step without a reload", async () => {
    await h.installExtension(w, context);
    await until(["done", "missing", "host-missing", true]);
  }],
  ["attack: the content script put in again by an update answers each hello once", async () => {
    await h.installExtension(w, context);
    const seen = await helloAndAcks(3000);
    assert.ok(seen["page:hello"] >= 2, `the waiting page stopped trying: ${JSON.stringify(seen)}`);
    assert.strictEqual(seen["ext:ack"], seen["page:hello"]);
  }],
  ["the host registered: the same page connects and makes its call", async () => {
    pids = h.installHost(w, profile);
    await until(["done", "done", "connected", true]);
    await h.poll(async () => (await page.innerText("#log")).includes("event InstallCompleteEvent"), 20000);
    assert.match(await page.innerText("#log"), /event InstallCompleteEvent/);
  }],
  ["a page that needs a newer module is told the host is outdated, and where to get it", async () => {
    const outcome = await page.evaluate(() => TRVControl.connect({ minVersion: "1.0.0.6" }).then(() => "connected",
      (e) => [e.code, e.piece, e.url.split("/").pop()]));
    assert.deepStrictEqual(outcome, ["outdated", "host", "TRVBridge-user.msi"]);
  }],
  ["attack: a page saying close and hello in a loop starts about one host a second", async () => {
    const before = h.hostPids(pids).length;
    await page.evaluate(() => new Promise((resolve) => {
      const end = Date.now() + 2000;
      const flood = () => {
        window.postMessage({ ns: "trvcontrol", type: "page:close" }, location.origin);
        window.postMessage({ ns: "trvcontrol", type: "page:hello" }, location.origin);
        if (Date.now() < end) setTimeout(flood, 10); else resolve();
      };
      flood();
    }));
    await new Promise((r) => setTimeout(r, 1500));
    assert.ok(h.hostPids(pids).length - before <= 4, `hosts started: ${h.hostPids(pids).length - before}`);
  }],
];
for (const [name, check] of checks) test(name, check);
