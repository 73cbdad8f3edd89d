// Debian's chromium with the unpacked extension, TRVBridge.exe registered for
// its profile and the module registered in the test prefix, on the sample
// page; the stand-in clients log what they receive.
"use strict";
const test = require("node:test");
const assert = require("node:assert");
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const h = require("../../scripts/browser-rig.js");

const SAMPLE = `http://127.0.0.1:${h.LISTED_PORT}/docs/sample-page.html`;
const BASE = "C:\\브라우저 시험";
const DOWNLOAD_JOB = "1021#<C:\\내 문서\\보고서.hwp#>1022#<C:\\내 문서\\여름 사진\\바다 1.jpg";
let w, server, context, page, profile, log, pids;

test.before(async () => {
  w = h.wineSetup();
  profile = fs.mkdtempSync(path.join(os.tmpdir(), "trv-chromium-"));
  log = path.join(w.build, "browser-chromium-clients.log");
  // A folder with Korean names for the selection dialog, shown first.
  const folder = path.join(w.driveC, "브라우저 시험", "여름 사진");
  fs.mkdirSync(folder, { recursive: true });
  fs.writeFileSync(path.join(folder, "바다 1.jpg"), "sea");
  for (const [name, value] of [["strWebDrive", "C:\\"], ["strWebPath", BASE]]) {
    await h.wine(w, "reg", ["add", "HKCU\\Software\\TARVOSK", "/v", name, "/d", value, "/f"]).done;
  }
  await h.prepareClients(w, log);
  pids = h.installHost(w, profile);
  server = h.serve();
  context = await h.launchChromium(w, profile);
  page = await context.newPage();
  await page.goto(SAMPLE);
  await page.evaluate(() => pageReady);
  // The test's own connection on the page records the events it receives.
  await page.evaluate(() => TRVControl.connect().then((c) => {
    window.testControl = c;
    window.testEvents = [];
    c.on("InstallCompleteEvent", () => window.testEvents.push(["InstallCompleteEvent"]));
    c.on("UpSelectComplete", (...args) => window.testEvents.push(["UpSelectComplete", ...args]));
  }));
});

test.after(async () => {
  if (context) await context.close();
  if (server) server.close();
  await h.closeClients(w);
  for (const name of ["strWebDrive", "strWebPath"]) {
    await h.wine(w, "reg", ["delete", "HKCU\\Software\\TARVOSK", "/v", name, "/f"]).done;
  }
  fs.rmSync(profile, { recursive: true, force: true });
});

// Runs one of the sample page's functions; returns the events that came meanwhile.
async function run(fn) {
  return page.evaluate((name) => { window.testEvents = []; return window[name]().then(() => window.testEvents); }, fn);
}
const records = (program, kind) =>
  h.clientLog(log).filter((e) => e.program === program && e.event === "record" && e.kind === kind);
const noApi = (url) => async () => {
  const other = await context.newPage();
  await other.goto(url);
  const outcome = await other.evaluate(() => TRVControl.connect().then(() => "connected", (e) => e.code));
  await other.close();
  assert.strictEqual(outcome, "extension-missing");
};

const checks = [
  ["CheckInstall's InstallCompleteEvent reaches the page", async () =>
    assert.deepStrictEqual(await run("CheckControl"), [["InstallCompleteEvent"]])],
  ["download job reaches the stand-in client as the designed kind-7 record", async () => {
    await run("StartDownload");
    await h.poll(() => records("TARVOSKDown.exe", 7).length > 0, 20000);
    assert.deepStrictEqual(records("TARVOSKDown.exe", 7).map((e) => e.text), [DOWNLOAD_JOB]);
  }],
  ["selection dialog driven by the dialog driver: UpSelectComplete events reach the page, Korean paths intact",
    async () => {
      const driver = h.wine(w, path.join(w.build, "testbed", "dialog_driver.exe"),
        ["--shots", h.winPath(profile), "--select", "여름 사진", "--timeout", "60"]);
      const events = await run("ChooseFiles");
      assert.strictEqual(await driver.done, 0);
      assert.deepStrictEqual(events, [
        ["UpSelectComplete", BASE + "\\여름 사진", "-1", "-1"],
        ["UpSelectComplete", BASE + "\\여름 사진\\바다 1.jpg", "3", BASE + "\\여름 사진"]]);
      assert.ok((await page.innerText("body")).includes(BASE + "\\여름 사진\\바다 1.jpg"), "not in the page's log");
    }],
  ["LauncherWebLink answers 1", async () => assert.strictEqual(
    await page.evaluate(() => window.testControl.LauncherWebLink("", "", "http://127.0.0.1/share?n=1")), "1")],
  ["attack: a loopback page on another port gets no API", noApi(`http://127.0.0.1:${h.UNLISTED_PORT}/docs/sample-page.html`)],
  ["attack: a listed port under another host name gets no API", noApi(`http://localhost:${h.LISTED_PORT}/docs/sample-page.html`)],
  ["attack: calls posted from iframes of an allowed page get no answer and call nothing", async () => {
    const answers = [];
    for (const port of [h.LISTED_PORT, h.UNLISTED_PORT]) {
      const src = `http://127.0.0.1:${port}/tests/browser/empty.html`;
      await page.evaluate((s) => new Promise((r) => {
        const f = document.createElement("iframe");
        f.onload = r;
        f.src = s;
        document.body.appendChild(f);
      }), src);
      const frame = page.frames().find((f) => f.url() === src);
      answers.push(...await frame.evaluate((link) => new Promise((resolve) => {
        const got = [];
        window.addEventListener("message", (e) => { if (/^ext:/.test(e.data && e.data.type)) got.push(e.data); });
        const call = { ns: "trvcontrol", type: "page:call", id: 900001, method: "LauncherWebLink", args: ["", "", link] };
        window.top.postMessage(call, "*");
        window.postMessage(call, "*");
        setTimeout(() => resolve(got), 2000);
      }), `http://127.0.0.1/hostile?from=${port}`));
    }
    // Calls run in arrival order: once the page's own link is recorded, any
    // call from the frames would have been recorded before it.
    assert.strictEqual(await page.evaluate(() => window.testControl.LauncherWebLink("", "", "http://127.0.0.1/after")), "1");
    await h.poll(() => records("TARVOSKDown.exe", 8).some((e) => e.text === "http://127.0.0.1/after"), 20000);
    assert.deepStrictEqual(answers, []);
    assert.deepStrictEqual(records("TARVOSKDown.exe", 8).map((e) => e.text).filter((t) => /hostile/.test(t)), []);
  }],
  ["one host for the page, though it said hello twice, and closing the tab ends it", async () => {
    assert.strictEqual(h.hostPids(pids).length, 1, "attack: a host per hello");
    const running = h.hostPids(pids).filter(h.alive);
    assert.ok(running.length > 0, "no host process ran");
    await page.close();
    assert.ok(await h.poll(() => !running.some(h.alive), 20000), `still running: ${running.filter(h.alive)}`);
  }],
];
for (const [name, check] of checks) test(name, check);
