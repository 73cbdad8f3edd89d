// The browser rig that the demo, the browser benchmark and the browser tests
// share: the local web server, the prefix's stand-in clients, the native
// host's registration, and Debian's chromium and firefox-esr with the tree's
// extension.
"use strict";
const fs = require("node:fs");
const http = require("node:http");
const path = require("node:path");
const { spawn, execFileSync } = require("node:child_process");

const ROOT = path.resolve(__dirname, "..");
const LISTED_PORT = 18088;    // the test trees' site list: http://127.0.0.1:18088
const UNLISTED_PORT = 18089;  // loopback too, but outside the list
const TYPES = { ".html": "text/html; charset=utf-8", ".js": "text/javascript; charset=utf-8",
  ".json": "application/json", ".css": "text/css", ".png": "image/png" };

// Serves the repository read-only on both ports; pages post what they found
// to /result/<key> as JSON.
function serve() {
  const results = new Map();
  const waiters = [];
  function handle(req, res) {
    const url = new URL(req.url, "http://x");
    const key = /^\/result\/([\w-]{1,64})$/.exec(url.pathname);
    if (req.method === "POST" && key) {
      let body = "";
      req.setEncoding("utf8");
      req.on("data", (c) => { if (body.length < 1 << 20) body += c; });
      req.on("end", () => {
        let value;
        try { value = JSON.parse(body); } catch (e) { value = { unreadable: body }; }
        results.set(key[1], value);
        for (const w of waiters.splice(0)) w();
        res.writeHead(204, { "Access-Control-Allow-Origin": "*" }).end();
      });
      return;
    }
    const file = path.resolve(ROOT, "." + decodeURIComponent(url.pathname));
    if (req.method !== "GET" || !file.startsWith(ROOT + path.sep) || !fs.existsSync(file) ||
        !fs.statSync(file).isFile()) {
      res.writeHead(404).end();
      return;
    }
    res.writeHead(200, { "Content-Type": TYPES[path.extname(file)] || "application/octet-stream",
      "Cache-Control": "no-store" });
    fs.createReadStream(file).pipe(res);
  }
  const servers = [LISTED_PORT, UNLISTED_PORT].map((p) => http.createServer(handle).listen(p, "127.0.0.1"));
  return {
    // The result a page posted under `key`, or undefined after `ms`.
    async result(key, ms) {
      const until = Date.now() + ms;
      while (!results.has(key) && Date.now() < until) {
        await new Promise((r) => { waiters.push(r); setTimeout(r, 200); });
      }
      return results.get(key);
    },
    close() { for (const s of servers) { s.closeAllConnections(); s.close(); } },
  };
}

// The Wine tree and prefix: CTest's (TRV_BUILD_DIR, WINEPREFIX) or the
// tree scripts/wine-tree names.
function wineSetup() {
  const build = process.env.TRV_BUILD_DIR ||
    path.join(ROOT, execFileSync(path.join(ROOT, "scripts/wine-tree")).toString().trim());
  let cache = "";
  try { cache = fs.readFileSync(path.join(build, "CMakeCache.txt"), "utf8"); } catch (e) { /* no tree */ }
  const arch = process.env.TRV_ARCH || (/^CMAKE_TOOLCHAIN_FILE:.*mingw-x86_64/m.test(cache) ? "x86_64" : "i686");
  const prefix = process.env.WINEPREFIX || path.join(build, "wineprefix");
  const env = { WINEPREFIX: prefix, WINEARCH: arch === "x86_64" ? "win64" : "win32", TRV_ARCH: arch,
    WINEDEBUG: "-all", WINEDLLOVERRIDES: "mscoree,mshtml=", LANG: "ko_KR.UTF-8", LC_ALL: "ko_KR.UTF-8" };
  Object.assign(process.env, env);
  return { build, arch, prefix, driveC: path.join(prefix, "drive_c") };
}

const winPath = (p) => "Z:" + p.replace(/\//g, "\\");

// Starts a Windows program of the tree under Wine; resolves to its exit code.
function wine(w, program, args, opts = {}) {
  const child = spawn(path.join(ROOT, "scripts/wine-run"), [w.arch, program, ...args],
    { stdio: ["ignore", opts.stdout || "ignore", "ignore"], env: process.env });
  child.done = new Promise((r) => child.on("exit", (code) => r(code)));
  return child;
}

// The stand-in client programs in Program Files\TARVOSK, as the suite's
// installer leaves them; they log to `log` (a Unix path).
function installStandIns(w, log) {
  const dir = path.join(w.driveC, "Program Files", "TARVOSK");
  fs.mkdirSync(dir, { recursive: true });
  for (const p of ["TARVOSKUp.exe", "TARVOSKDown.exe", "Explorer.exe"]) {
    fs.copyFileSync(path.join(w.build, "testbed", p), path.join(dir, p));
  }
  fs.rmSync(log, { force: true });
  process.env.TRV_TESTBED_LOG = winPath(log);
  return dir;
}

// The stand-ins' log: one JSON object a line, text fields as code page 949 hex.
function clientLog(log) {
  let text = "";
  try { text = fs.readFileSync(log, "latin1"); } catch (e) { return []; }
  const cp949 = new TextDecoder("euc-kr");
  const out = [];
  for (const line of text.split("\n")) {
    try {
      const e = JSON.parse(line);
      if (e.text_hex !== undefined) e.text = cp949.decode(Buffer.from(e.text_hex, "hex"));
      out.push(e);
    } catch (err) { /* a line being written */ }
  }
  return out;
}

async function poll(done, ms, step = 200) {
  const until = Date.now() + ms;
  for (;;) {
    const value = await done();
    if (value || Date.now() >= until) return value;
    await new Promise((r) => setTimeout(r, step));
  }
}

// Registers the host (or `echo`, another program under the same name) for a
// Chromium profile; returns the file the wrapper appends host process ids to.
function installHost(w, profile, opts = {}) {
  const args = ["--prefix", w.prefix];
  if (opts.echo) args.push("--echo", opts.echo);
  if (opts.firefoxHome) args.push("--firefox", opts.firefoxHome, w.build);
  else args.push(w.build, profile);
  const manifest = execFileSync(path.join(ROOT, "scripts/install-native-host"), args).toString().trim();
  const pids = path.join(path.dirname(manifest), "host.pids");
  fs.rmSync(pids, { force: true });
  return pids;
}

function hostPids(file) {
  try { return fs.readFileSync(file, "utf8").split(/\s+/).filter(Boolean).map(Number); } catch (e) { return []; }
}

function alive(pid) {
  try { process.kill(pid, 0); } catch (e) { return e.code === "EPERM"; }
  // A child of ours that ended but was not reaped yet counts as gone.
  try { return !/^\d+ \(.*\) Z/.test(fs.readFileSync(`/proc/${pid}/stat`, "utf8")); } catch (e) { return false; }
}

// Debian's chromium, headless, with the unpacked extension of the tree; with
// { later: true } without it, for installExtension() to add to the running browser.
async function launchChromium(w, profile, opts = {}) {
  const { chromium } = require("playwright-core");
  const ext = path.join(w.build, "browser", "chrome");
  const extension = opts.later ? ["--enable-unsafe-extension-debugging"]
    : [`--disable-extensions-except=${ext}`, `--load-extension=${ext}`];
  return chromium.launchPersistentContext(profile, {
    executablePath: "/usr/bin/chromium", headless: true, viewport: { width: 900, height: 700 },
    ignoreDefaultArgs: opts.later ? ["--disable-extensions"] : [],
    args: [...extension, "--no-sandbox",
      "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
      "--disable-component-update", "--disable-sync",
      "--disable-features=DisableLoadExtensionCommandLineSwitch"],
  });
}

// Installs the tree's unpacked extension into a running chromium (again: an
// update), as the store would: its background gets onInstalled.
async function installExtension(w, context) {
  const cdp = await context.browser().newBrowserCDPSession();
  await cdp.send("Extensions.loadUnpacked", { path: path.join(w.build, "browser", "chrome") });
  await cdp.detach();
}

// firefox-esr, headless, in a fresh profile with the tree's add-on and the
// host registered in a throwaway HOME; opens `urls`. Returns the process.
function launchFirefox(w, dir, urls, opts = {}) {
  const profile = path.join(dir, "profile");
  const home = path.join(dir, "home");
  fs.mkdirSync(path.join(profile, "extensions"), { recursive: true });
  fs.copyFileSync(path.join(w.build, "browser", "webcontrol@tarvosk.co.kr.xpi"),
    path.join(profile, "extensions", "webcontrol@tarvosk.co.kr.xpi"));
  // An unsigned add-on in the profile's own scope, enabled without asking;
  // its site access granted at install; nothing fetched from outside.
  const prefs = { "xpinstall.signatures.required": false, "extensions.autoDisableScopes": 0,
    "extensions.enabledScopes": 15, "extensions.originControls.grantByDefault": true,
    "extensions.webextensions.restrictedDomains": "", "browser.shell.checkDefaultBrowser": false,
    "browser.startup.homepage_override.mstone": "ignore", "datareporting.policy.dataSubmissionEnabled": false,
    "app.update.enabled": false, "extensions.update.enabled": false, "browser.aboutwelcome.enabled": false,
    "network.proxy.type": 0, "toolkit.startup.max_resumed_crashes": -1 };
  fs.writeFileSync(path.join(profile, "user.js"),
    Object.entries(prefs).map(([k, v]) => `user_pref(${JSON.stringify(k)}, ${JSON.stringify(v)});\n`).join(""));
  const pids = installHost(w, null, { ...opts, firefoxHome: home });
  const child = spawn("/usr/bin/firefox-esr", ["--headless", "--no-remote", "--profile", profile, ...urls],
    { stdio: ["ignore", "ignore", fs.openSync(path.join(dir, "firefox.log"), "w")],
      env: { ...process.env, HOME: home, MOZ_CRASHREPORTER_DISABLE: "1" }, detached: true });
  child.done = new Promise((r) => child.on("exit", (code) => r(code)));
  child.pids = pids;
  // The whole group: Firefox starts content processes (and the host) of its own.
  child.stop = async () => {
    try { process.kill(-child.pid, "SIGTERM"); } catch (e) { return; }
    if (!(await poll(() => child.exitCode !== null || child.signalCode !== null, 10000))) {
      try { process.kill(-child.pid, "SIGKILL"); } catch (e) { /* gone */ }
    }
  };
  return child;
}

// The stand-in clients in place, the suite's explorer running (the client
// gate then lets jobs through without its install check) and their log
// cleared. Every stand-in ends by itself after `lifetimeMs`.
async function prepareClients(w, log, lifetimeMs = 300000) {
  const dir = installStandIns(w, log);
  process.env.TRV_TESTBED_LIFETIME_MS = String(lifetimeMs);
  const explorer = wine(w, path.join(dir, "Explorer.exe"), ["browseruser", "browserpw"]);
  const up = await poll(() => clientLog(log).some((e) => e.program === "Explorer.exe" && e.event === "window"), 30000);
  if (!up) throw new Error("the stand-in explorer did not come up");
  return explorer;
}

// Ends every stand-in client of the prefix (they log their exit).
async function closeClients(w) {
  for (const p of ["TARVOSKUp.exe", "TARVOSKDown.exe", "Explorer.exe"]) {
    await wine(w, "taskkill", ["/im", p]).done;
  }
}
module.exports = { ROOT, LISTED_PORT, UNLISTED_PORT, serve, wineSetup, winPath, wine, installStandIns,
  clientLog, poll, installHost, hostPids, alive, launchChromium, installExtension, launchFirefox, prepareClients,
  closeClients };
