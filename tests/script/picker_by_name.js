// ShowUpFileDlg called by name from the platform's script host: the call is
// modal and returns once the picker closes (the picker driver closes it).
// Events cannot reach cscript, so only the call's return is checked here.
// Prints "PASS <n> checks" as the last line when everything held.
var checks = 0, failures = 0;

function check(condition, what) {
    checks++;
    if (!condition) {
        failures++;
        WScript.Echo("FAIL: " + what);
    }
}

try {
    var control = new ActiveXObject("Halvex.Tavrine");
    var started = new Date().getTime();
    check(control.ShowUpFileDlg() === undefined, "ShowUpFileDlg returns no value");
    WScript.Echo("the picker was open for " + (new Date().getTime() - started) + " ms");
    // The control is still usable after its modal picker.
    check(control.LauncherWebLink("", "", "") === "0", "LauncherWebLink after the picker returns \"0\"");
} catch (e) {
    check(false, "unexpected error 0x" + (e.number >>> 0).toString(16));
}
if (failures) {
    WScript.Echo("FAILED " + failures + " of " + checks + " checks");
    WScript.Quit(1);
}
WScript.Echo("PASS " + checks + " checks");
WScript.Quit(0);
