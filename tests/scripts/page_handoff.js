// A page's download, upload and web-link jobs through the registered control,
// received by the stand-in clients. What each client received is read back
// from the stand-ins' log (TRV_TESTBED_LOG).
// Arguments: the build tree's testbed folder, the log file.
// Prints "N passed, N failed".
var passed = 0, failed = 0;
function check(ok, what) {
    if (ok) { passed++; } else { failed++; WScript.Echo("FAILED: " + what); }
}

var fso = new ActiveXObject("Scripting.FileSystemObject");
var shell = new ActiveXObject("WScript.Shell");

function hexOf(ascii) {
    var out = "";
    for (var i = 0; i < ascii.length; i++) {
        var h = ascii.charCodeAt(i).toString(16);
        out += (h.length < 2 ? "0" : "") + h;
    }
    return out;
}

function field(line, name) {
    var m = new RegExp('"' + name + '":("([^"]*)"|[0-9]+|true|false|null)').exec(line);
    if (!m) return null;
    return m[1].charAt(0) == '"' ? m[2] : m[1];
}

// The log's lines as objects with the fields the checks use.
function readEvents(path) {
    var events = [];
    if (!fso.FileExists(path)) return events;
    var text = "";
    try {
        var f = fso.OpenTextFile(path, 1, false, 0);
        if (!f.AtEndOfStream) text = f.ReadAll();
        f.Close();
    } catch (e) {
        return events;  // a writer holds it this instant: read again next time
    }
    var lines = text.split("\n");
    for (var i = 0; i < lines.length; i++) {
        var line = lines[i];
        if (line.indexOf("{") != 0) continue;
        events.push({
            program: field(line, "program"), event: field(line, "event"),
            kind: field(line, "kind"), text_hex: field(line, "text_hex"),
            params_hex: field(line, "params_hex"), command: field(line, "command"),
            id: field(line, "id"), pw: field(line, "pw"), source: field(line, "source")
        });
    }
    return events;
}

function find(events, program, event, extra) {
    var found = [];
    for (var i = 0; i < events.length; i++) {
        var e = events[i];
        if (e.program == program && e.event == event && (!extra || extra(e))) found.push(e);
    }
    return found;
}

// Polls the log until `count` events match, for at most `seconds`.
// The script host here has no sleep, so the wait spins between reads.
function waitFor(program, event, extra, count, seconds) {
    var until = new Date().getTime() + seconds * 1000;
    var found = [];
    for (;;) {
        found = find(readEvents(logPath), program, event, extra);
        if (found.length >= count || new Date().getTime() > until) return found;
        var spin = new Date().getTime() + 100;
        while (new Date().getTime() < spin) { }
    }
}

var testbed = WScript.Arguments(0).replace(/\//g, "\\");
var logPath = WScript.Arguments(1).replace(/\//g, "\\");
// Wine's script host counts the terminating NUL into the expanded text.
var programFiles = shell.ExpandEnvironmentStrings("%ProgramFiles%");
if (programFiles.indexOf(String.fromCharCode(0)) >= 0)
    programFiles = programFiles.substring(0, programFiles.indexOf(String.fromCharCode(0)));
var installFolder = programFiles + "\\TARVOSK";
var installDir = installFolder + "\\";
var programs = ["TARVOSKUp.exe", "TARVOSKDown.exe", "Explorer.exe"];

try {
    if (fso.FileExists(logPath)) fso.DeleteFile(logPath, true);
    if (!fso.FolderExists(installFolder)) fso.CreateFolder(installFolder);
    for (var i = 0; i < programs.length; i++)
        fso.CopyFile(testbed + "\\" + programs[i], installDir + programs[i], true);

    // With the suite's explorer open the control skips its install check.
    shell.Run("\"" + installDir + "Explorer.exe\" pageuser pagepw", 0, false);
    check(waitFor("Explorer.exe", "window", null, 1, 20).length == 1, "explorer window up");

    var o = new ActiveXObject("WebControl.TARVOSK.1");

    // Download job: two items, one with a Korean folder and one with a blank.
    o.DownLoadInit();
    o.DownLoadInfo("11", "C:\\\uC790\uB8CC\\a.txt");
    o.DownLoadInfo("12", "C:\\b c.txt");
    o.DownLoadEnd("pageuser", "pagepw");
    var downList = hexOf("11#<C:\\") + "c0dab7e1" + hexOf("\\a.txt#>12#<C:\\b c.txt");
    var starts = waitFor("TARVOSKDown.exe", "start", null, 1, 5);
    check(starts.length == 1, "download client started once: " + starts.length);
    if (starts.length == 1) {
        check(starts[0].command == "bbs", "download command bbs: " + starts[0].command);
        check(starts[0].id == "pageuser" && starts[0].pw == "pagepw", "download credentials");
    }
    var downRecords = waitFor("TARVOSKDown.exe", "record",
                              function (e) { return e.kind == "7"; }, 1, 20);
    check(downRecords.length == 1, "one download record: " + downRecords.length);
    if (downRecords.length == 1)
        check(downRecords[0].text_hex == downList, "download list " + downRecords[0].text_hex);

    // Upload job.
    o.UpLoadInit();
    o.UpLoadInfo("7");
    o.UpLoadInfo("8");
    o.UpLoadEnd("pageuser", "pagepw");
    var upRecords = waitFor("TARVOSKUp.exe", "record",
                            function (e) { return e.kind == "2"; }, 1, 20);
    check(upRecords.length == 1, "one upload record: " + upRecords.length);
    if (upRecords.length == 1)
        check(upRecords[0].text_hex == hexOf("7#>8"), "upload list " + upRecords[0].text_hex);
    check(find(readEvents(logPath), "TARVOSKUp.exe", "start", null).length == 1,
          "upload client started once");

    // A web link goes to the running download client: "1".
    var link = "http://127.0.0.1/share?id=5&n=2";
    check(o.LauncherWebLink("", "", link) === "1", "LauncherWebLink answers 1");
    var linkRecords = waitFor("TARVOSKDown.exe", "record",
                              function (e) { return e.kind == "8"; }, 1, 20);
    check(linkRecords.length == 1, "one web-link record: " + linkRecords.length);
    if (linkRecords.length == 1)
        check(linkRecords[0].text_hex == hexOf(link), "web link " + linkRecords[0].text_hex);

    // A blank in a credential only matters on a command line: the running
    // client takes the link.
    check(o.LauncherWebLink("page user", "pagepw", link + "&x") === "1",
          "LauncherWebLink with a blank answers 1");
    linkRecords = waitFor("TARVOSKDown.exe", "record",
                          function (e) { return e.kind == "8"; }, 2, 20);
    check(linkRecords.length == 2, "second web-link record: " + linkRecords.length);
    // A second download while the client runs: no second start, one more record.
    o.DownLoadInit();
    o.DownLoadInfo("13", "C:\\c.txt");
    o.DownLoadEnd("pageuser", "pagepw");
    downRecords = waitFor("TARVOSKDown.exe", "record",
                          function (e) { return e.kind == "7"; }, 2, 20);
    check(downRecords.length == 2, "second download record: " + downRecords.length);
    if (downRecords.length == 2)
        check(downRecords[1].text_hex == hexOf("13#<C:\\c.txt"), "second download list");
    var events = readEvents(logPath);
    check(find(events, "TARVOSKDown.exe", "start", null).length == 1, "download client not restarted");
    o = null;
} catch (err) {
    failed++;
    WScript.Echo("FAILED: uncaught " + err.number + " " + err.message);
}

// Leave no stand-in running for the tests after this one.
for (var p = 0; p < programs.length; p++)
    shell.Run("taskkill /im " + programs[p], 0, true);
check(waitFor("Explorer.exe", "exit", null, 1, 10).length == 1, "explorer closed");
check(waitFor("TARVOSKUp.exe", "exit", null, 1, 10).length == 1, "upload client closed");
check(waitFor("TARVOSKDown.exe", "exit", null, 1, 10).length == 1, "download client closed");

WScript.Echo(passed + " passed, " + failed + " failed");
WScript.Quit(failed == 0 ? 0 : 1);
