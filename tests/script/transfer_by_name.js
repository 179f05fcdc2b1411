// A transfer batch as a page script makes it, called by name from the
// platform's script host: the reference companion programs are installed
// where the control looks for them, the explorer runs (so the install check
// passes at once), and the companions' log shows what each batch delivered.
// Run by cscript (tools/wine-run.sh --cscript). Echo ASCII only.

var checks = 0, failures = 0;
var shell = new ActiveXObject("WScript.Shell");
var fso = new ActiveXObject("Scripting.FileSystemObject");
var env = shell.Environment("PROCESS");

function hex(n) { return "0x" + (n >>> 0).toString(16); }

function check(condition, what) {
    checks++;
    if (!condition) {
        failures++;
        WScript.Echo("FAIL: " + what);
    }
}

var log = "", logStart = 0;

// The log written since this script started.
// A companion appending a line holds the file for a moment: try again.
function readLog(path) {
    for (var attempt = 0; ; attempt++) {
        try {
            if (!fso.FileExists(path))
                return "";
            var file = fso.OpenTextFile(path, 1);
            var text = file.AtEndOfStream ? "" : file.ReadAll();
            file.Close();
            return text.substring(logStart);
        } catch (e) {
            if (attempt == 20)
                throw e;
            pause(50);
        }
    }
}

// Wine's host has no WScript.Sleep: wait by running a trivial program.
function pause(ms) {
    var until = new Date().getTime() + ms;
    do
        shell.Run("cmd /c exit", 0, true);
    while (new Date().getTime() < until);
}

// Waits (at most 20 s) for a log line holding every piece.
function waitForLine(path, pieces) {
    var until = new Date().getTime() + 20000;
    for (;;) {
        var lines = readLog(path).split("\r\n");
        for (var i = 0; i < lines.length; i++) {
            var all = true;
            for (var p = 0; p < pieces.length; p++)
                all = all && lines[i].indexOf(pieces[p]) >= 0;
            if (all)
                return true;
        }
        if (new Date().getTime() > until)
            return false;
        pause(100);
    }
}

// Closes the copies of a program this script saw start, by process id (the
// explorer's name is also that of the system's own shell), and waits for them.
function closeCompanion(program) {
    var started = readLog(log).match(new RegExp(program.replace(".", "\\.") + " \\d+ start", "g")) || [];
    for (var i = 0; i < started.length; i++) {
        var pid = started[i].split(" ")[1];
        if (readLog(log).indexOf(program + " " + pid + " exit") >= 0)
            continue;
        shell.Run("taskkill /pid " + pid, 0, true);
        check(waitForLine(log, [program + " " + pid + " exit"]), program + " " + pid + " closed");
    }
}

function run() {
    var build = env("TAVRINE_BUILD_DIR");
    var companion = "Z:" + build.replace(/\//g, "\\") + "\\companion\\TavrineCompanion.exe";
    check(fso.FileExists(companion), "the companion build " + companion + " exists");
    // The program folder as this process sees it: "Program Files (x86)" for the
    // 32-bit host, as for the 32-bit control.
    var dir = env("ProgramFiles") + "\\Tavrine";
    if (!fso.FolderExists(dir))
        fso.CreateFolder(dir);
    var names = ["TavrineUp.exe", "TavrineDown.exe", "TavrineSpeed.exe", "Explorer.exe"];
    for (var i = 0; i < names.length; i++) {
        try { fso.CopyFile(companion, dir + "\\" + names[i], true); } catch (e) { /* a running copy stays */ }
    }
    // Without TAVRINE_COMPANION_LOG (this host cannot set it for its children)
    // the companions log beside themselves.
    // Wine's FileSystemObject cannot delete files: earlier lines are skipped instead.
    log = dir + "\\companion.log";
    logStart = readLog(log).length;

    shell.Run("\"" + dir + "\\Explorer.exe\" scriptuser scriptpw", 1, false);
    check(waitForLine(log, ["Explorer.exe ", " args user=scriptuser password=scriptpw"]), "the explorer started");
    check(waitForLine(log, ["Explorer.exe ", " window"]), "the explorer's window is up");

    var control = new ActiveXObject("Halvex.Tavrine");
    check(control.UpLoadInit() === undefined, "UpLoadInit returns no value");
    control.UpLoadInfo("31");
    control.UpLoadInfo("32");
    check(control.UpLoadEnd("scriptuser", "scriptpw") === undefined, "UpLoadEnd returns no value");
    check(waitForLine(log, ["TavrineUp.exe ", " cmdline bbs scriptuser scriptpw "]), "the upload program started");
    check(waitForLine(log, ["TavrineUp.exe ", "record source=file offset=0 kind=2 length=7 ", " text=31#>32"]),
          "the upload batch arrived");

    check(control.DownLoadInit() === undefined, "DownLoadInit returns no value");
    control.DownLoadInfo("41", "C:\\Down\\x y.txt");
    check(control.DownLoadEnd("scriptuser", "scriptpw", "Speed") === undefined, "DownLoadEnd returns no value");
    check(waitForLine(log, ["TavrineSpeed.exe ", "record source=file offset=0 kind=7 length=20 ",
                            " text=41#<C:\\Down\\x y.txt"]), "the download batch reached the speed program");

    // The running download program takes the link without credentials: "1".
    var link = control.LauncherWebLink("", "", "http://www.example.test/f/2");
    check(link === "1", "LauncherWebLink to a running download program returns \"1\", got \"" + link + "\"");
    check(waitForLine(log, ["TavrineSpeed.exe ", "record source=file offset=32 kind=8 ",
                            " text=http://www.example.test/f/2"]), "the web link arrived");

    // A credential with a space would split a command line: no program, "0".
    closeCompanion("TavrineSpeed.exe");
    link = control.LauncherWebLink("script user", "scriptpw", "http://www.example.test/f/3");
    check(link === "0", "LauncherWebLink with a split credential returns \"0\", got \"" + link + "\"");

    check(control.DownLoadSpInit() === undefined, "DownLoadSpInit returns no value");
    check(control.LauncherExplorer("scriptuser", "scriptpw") === undefined, "LauncherExplorer returns no value");
    pause(1000);
    check((readLog(log).match(/Explorer\.exe \d+ start/g) || []).length == 1, "a second explorer was started");
    check(readLog(log).indexOf(" bad ") < 0, "a companion found a malformed record");
}

try {
    run();
} catch (e) {
    check(false, "unexpected error " + hex(e.number) + " " + e.description);
}
var programs = ["TavrineUp.exe", "TavrineDown.exe", "TavrineSpeed.exe", "Explorer.exe"];
for (var i = 0; i < programs.length; i++) {
    try { closeCompanion(programs[i]); } catch (e) { check(false, "closing " + programs[i] + ": " + hex(e.number)); }
}
if (failures) {
    WScript.Echo("FAILED " + failures + " of " + checks + " checks");
    WScript.Quit(1);
}
WScript.Echo("PASS " + checks + " checks");
WScript.Quit(0);
