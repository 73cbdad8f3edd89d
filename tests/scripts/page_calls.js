// A page's calls on the registered control through cscript: results and the
// standard automation errors. Prints "N passed, N failed".
var passed = 0, failed = 0;
function check(ok, what) {
    if (ok) { passed++; } else { failed++; WScript.Echo("FAILED: " + what); }
}
function errorOf(f) {
    try { f(); } catch (e) { return e.number; }
    return 0;
}
var DISP_E_BADPARAMCOUNT = -2147352562;

try {
    var o = new ActiveXObject("WebControl.TARVOSK.1");
    check(typeof o == "object", "created by ProgID");

    check(errorOf(function () { o.CheckInstall(); }) == 0, "CheckInstall");
    check(errorOf(function () { o.SelectComplete("C:\\\uC790\uB8CC", "10", "1"); }) == 0,
          "SelectComplete with Korean text");
    // Empties the module's credentials; refused without an error.
    check(errorOf(function () { o.LauncherExplorer("", ""); }) == 0, "LauncherExplorer refused quietly");
    check(o.LauncherWebLink("", "", "http://127.0.0.1/x") === "0", "LauncherWebLink answers 0");
    check(o.launcherweblink("", "", "") === "0", "names ignore letter case");

    check(errorOf(function () { o.UpLoadInfo("1#>2"); }) == 0, "UpLoadInfo");
    check(errorOf(function () { o.DownLoadInfo(11, 3.5); }) == 0, "numbers become text");

    var e = errorOf(function () { o.UpLoadInfo(); });
    check(e == DISP_E_BADPARAMCOUNT, "missing argument: " + e);
    e = errorOf(function () { o.UpLoadInfo("a", "b"); });
    check(e == DISP_E_BADPARAMCOUNT, "surplus argument: " + e);
    e = errorOf(function () { o.LauncherWebLink("a"); });
    check(e == DISP_E_BADPARAMCOUNT, "LauncherWebLink short: " + e);
    e = errorOf(function () { o.NoSuchMethod(); });
    check(e != 0, "unknown method fails: " + e);
    e = errorOf(function () { o.UpLoadInfo(o); });
    check(e != 0, "an object is no string: " + e);
} catch (err) {
    failed++;
    WScript.Echo("FAILED: uncaught " + err.number + " " + err.message);
}
WScript.Echo(passed + " passed, " + failed + " failed");
WScript.Quit(failed == 0 ? 0 : 1);
