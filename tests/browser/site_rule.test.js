// The extension's site rule must refuse exactly what the native host's and the
// module's site lock refuse; the cases mirror the C++ table.
"use strict";
const test = require("node:test");
const assert = require("node:assert");
const rule = require("../../browser/extension/site_rule.js");

const sites = rule.parseList("https://*.tarvosk.co.kr; https://files.tarvosk.co.kr:8443, http://127.0.0.1:18088");

const cases = [
  ["listed page below the name", "https://www.tarvosk.co.kr/index.html", true],
  ["case-insensitive scheme and host", "HTTPS://WWW.Tarvosk.CO.KR/", true],
  ["explicit default port", "https://www.tarvosk.co.kr:443/", true],
  ["listed port", "https://files.tarvosk.co.kr:8443/up#top", true],
  ["loopback test site", "http://127.0.0.1:18088/sample-page.html", true],
  ["attack: '*.name' taken for name itself", "https://tarvosk.co.kr/", false],
  ["attack: other port on a listed host", "https://www.tarvosk.co.kr:8443/", false],
  ["attack: other port on loopback", "http://127.0.0.1:18089/", false],
  ["attack: http for https", "http://www.tarvosk.co.kr/", false],
  ["attack: look-alike suffix", "https://tarvosk.co.kr.evil.example/", false],
  ["attack: look-alike prefix", "https://eviltarvosk.co.kr/", false],
  ["attack: userinfo hides the host", "https://www.tarvosk.co.kr@evil.example/", false],
  ["attack: backslash userinfo", "https://evil.example\\@www.tarvosk.co.kr/", false],
  ["attack: listed host in the query", "https://evil.example/?u=https://www.tarvosk.co.kr/", false],
  ["attack: Kelvin sign folds to k", "https://www.tarvos\u212a.co.kr/", false],
  ["attack: trailing dot", "https://www.tarvosk.co.kr./", false],
  ["attack: label with a leading hyphen", "https://-www.tarvosk.co.kr/", false],
  ["attack: bracketed address", "https://[::1]/", false],
  ["attack: port out of range", "https://www.tarvosk.co.kr:70000/", false],
  ["attack: port with junk", "https://files.tarvosk.co.kr:08443x/", false],
  ["no authority", "about:blank", false],
  ["not a string", null, false],
];

test("site rule: addresses the list lets through", () => {
  for (const [name, address, allowed] of cases) {
    assert.strictEqual(rule.allows(sites, address), allowed, name + ": " + address);
  }
});

test("site rule: entries that do not read as a site lock everything", () => {
  for (const list of ["tarvosk.co.kr", "https://*.tarvosk.co.kr/path", "https://*", " ; ,"]) {
    assert.strictEqual(rule.allows(rule.parseList(list), "https://www.tarvosk.co.kr/"), false, list);
  }
});
