// The sample page's main road, run after web/tavrine.js and examples/page.js in
// the page host (every callback has run when its call returns): the
// batches page.js builds from what the control reported must reach the
// companion programs as the page meant them. The reference companion is put
// where the control looks for it and the explorer copy is started first, so the
// install check passes at once (no dialog). The picker is left out here: the
// page reports its items itself, through the same event the picker uses.
// Prints "PASS <n> checks" when everything held; the companions' log is echoed.

var checks = 0, failures = 0;
var shell = new ActiveXObject("WScript.Shell");
var fso = new ActiveXObject("Scripting.FileSystemObject");

function check(condition, what) {
    checks++;
    if (!condition) {
        failures++;
        host.Echo("FAIL: " + what);
    }
}

// Cuts a text at its first NUL: some of the platform's string answers carry one.
function clean(text) {
    var nul = text.indexOf("\u0000");
    return nul < 0 ? text : text.substring(0, nul);
}

// A companion appending a line holds the log for a moment, and the text stream
// will not open it then: try again shortly.
function readLog(path) {
    for (var attempt = 0; ; attempt++) {
        try {
            if (!fso.FileExists(path))
                return "";
            var file = fso.OpenTextFile(path, 1);
            var text = file.AtEndOfStream ? "" : file.ReadAll();
            file.Close();
            return text;
        } catch (e) {
            if (attempt == 20)
                throw e;
            host.Sleep(50);
        }
    }
}

// Waits (at most 20 s) for a log line that holds every piece.
function waitForLine(path, pieces) {
    for (var waited = 0; waited <= 20000; waited += 100) {
        var lines = readLog(path).split("\r\n");
        for (var i = 0; i < lines.length; i++) {
            var all = true;
            for (var p = 0; p < pieces.length; p++)
                all = all && lines[i].indexOf(pieces[p]) >= 0;
            if (all)
                return true;
        }
        host.Sleep(100);
    }
    return false;
}

var programs = ["TavrineUp.exe", "TavrineDown.exe", "TavrineSpeed.exe", "Explorer.exe"];

function installCompanions(log) {
    var build = host.Env("TAVRINE_BUILD_DIR");
    var companion = "Z:" + build.replace(/\//g, "\\") + "\\companion\\TavrineCompanion.exe";
    check(fso.FileExists(companion), "the companion build " + companion + " exists");
    // %ProgramFiles% is the folder the control's process sees (the x86 one for 32 bits).
    var dir = clean(shell.ExpandEnvironmentStrings("%ProgramFiles%")) + "\\Tavrine";
    if (!fso.FolderExists(dir))
        fso.CreateFolder(dir);
    for (var i = 0; i < programs.length; i++) {
        try { fso.CopyFile(companion, dir + "\\" + programs[i], true); } catch (e) { /* a running copy stays */ }
    }
    if (fso.FileExists(log))
        fso.DeleteFile(log);
    shell.Run("\"" + dir + "\\Explorer.exe\" pageuser pagepw", 1, false);
    check(waitForLine(log, ["Explorer.exe ", " args user=pageuser password=pagepw"]), "the explorer started");
    check(waitForLine(log, ["Explorer.exe ", " window"]), "the explorer's window is up");
}

function run() {
    // The test sets it; the companions inherit it from this process.
    var log = host.Env("TAVRINE_COMPANION_LOG");
    check(log != "", "TAVRINE_COMPANION_LOG is set");
    installCompanions(log);

    var answered = null;
    checkControl(function (yes) { answered = yes; });
    check(answered === true, "the control answers CheckInstall");
    clearPicked();
    reportItem("T:\\사진", "-1", "-1");
    reportItem("T:\\사진\\b.jpg", "2048", "T:\\사진");
    reportItem("T:\\메모 1.txt", "9", "-1");
    check(page.picked.length == 3, "three items picked, got " + page.picked.length);
    check(pickedFiles().length == 2, "two of them files, got " + pickedFiles().length);

    // Upload: the files only, identified by their paths, in the order picked.
    var handed = null;
    check(uploadPicked("pageuser", "pagepw", function (error) { handed = error; }) == 2,
          "uploadPicked hands off two items");
    check(handed === null, "the upload batch answered without an error");
    check(waitForLine(log, ["TavrineUp.exe ", " cmdline bbs pageuser pagepw "]), "the upload program started");
    check(waitForLine(log, ["TavrineUp.exe ", " kind=2 ", " text=T:\\사진\\b.jpg#>T:\\메모 1.txt"]),
          "the upload batch holds the two files");

    // Download: the page's listed files with their paths; "S" picks the speed program.
    check(downloadListed("pageuser", "pagepw", "S") == 2, "downloadListed hands off two items");
    check(waitForLine(log, ["TavrineSpeed.exe ", " kind=7 ",
                            " text=2001#<C:\\Tavrine 받은 파일\\회의록 3월.hwp#>2002#<C:\\Tavrine 받은 파일\\사진\\단체 사진.jpg"]),
          "the download batch holds the listed files");

    // The web link goes to the running download program with the stored credentials.
    var passed = null;
    openWebLink("", "", "https://tavrine.example/s/road", function (yes) { passed = yes; });
    check(passed === true, "openWebLink passes the link on");
    check(waitForLine(log, ["TavrineSpeed.exe ", " kind=8 ", " text=https://tavrine.example/s/road"]),
          "the web link arrived");
    check(readLog(log).indexOf(" bad ") < 0, "no companion found a malformed record");
}

try {
    run();
} catch (e) {
    check(false, "unexpected error 0x" + (e.number >>> 0).toString(16) + " " + e.description);
}
for (var i = 0; i < programs.length; i++)
    shell.Run("taskkill /im " + programs[i], 0, true);
host.Echo(failures ? "FAILED " + failures + " of " + checks + " checks" : "PASS " + checks + " checks");
