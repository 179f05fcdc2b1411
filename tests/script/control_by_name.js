// The control as the platform's script host sees it: created by ProgID, every
// method called by name through IDispatch. Run by cscript (tools/wine-run.sh --cscript).
// Only methods that show no dialog and start no program run to completion here;
// the others are reached by name with too few arguments, which the dispatch
// refuses before the method body runs.
// Echo ASCII only: the host's Echo corrupts its heap on Korean text in a Korean locale.
// A script error ends Wine's cscript silently with exit code 0, so the checks
// run inside try/catch and only the last line, "PASS ...", means success.

var checks = 0, failures = 0;

function hex(n) { return "0x" + (n >>> 0).toString(16); }

function check(condition, what) {
    checks++;
    if (!condition) {
        failures++;
        WScript.Echo("FAIL: " + what);
    }
}

// Runs f and checks that it raises the given error number.
function raises(f, number, what) {
    var got = 0;
    try { f(); } catch (e) { got = e.number; }
    check((got >>> 0) == (number >>> 0), what + ": expected error " + hex(number) + ", got " + (got ? hex(got) : "none"));
}

// Runs f and checks that it raises nothing; answers f's value.
function succeeds(f, what) {
    try {
        return f();
    } catch (e) {
        check(false, what + ": unexpected error " + hex(e.number));
    }
}

var DISP_E_BADPARAMCOUNT = 0x8002000e;
var DISP_E_TYPEMISMATCH = 0x80020005;
var JS_E_UNSUPPORTED = 0x800a01b6;   // object doesn't support this property or method

function run() {
    var control = succeeds(function () { return new ActiveXObject("Halvex.Tavrine"); }, "create Halvex.Tavrine");
    check(typeof control == "object", "ActiveXObject gives an object");
    if (typeof control != "object")
        return;
    var second = succeeds(function () { return new ActiveXObject("Halvex.Tavrine.1"); }, "create Halvex.Tavrine.1");
    check(typeof second == "object", "the versioned ProgID gives an object");

    // Methods that return nothing to script.
    check(succeeds(function () { return control.CheckInstall(); }, "CheckInstall") === undefined,
          "CheckInstall returns no value");
    check(succeeds(function () { return control.SelectComplete("C:\\a.txt", "5", "-1"); }, "SelectComplete")
          === undefined, "SelectComplete returns no value");
    succeeds(function () { control.SelectComplete("", "", ""); }, "SelectComplete with empty strings");
    // Script values are coerced to BSTR by the type-library dispatch; null is not.
    succeeds(function () { control.SelectComplete(1, true, 2.5); }, "SelectComplete with numbers and a boolean");
    raises(function () { control.SelectComplete(null, "1", "-1"); }, DISP_E_TYPEMISMATCH, "SelectComplete(null, ...)");
    succeeds(function () { control.UpLoadInfo("17"); }, "UpLoadInfo");
    succeeds(function () { control.UpLoadInfo(""); }, "UpLoadInfo with an empty identifier");
    succeeds(function () { control.DownLoadInfo("12", "C:\\Down\\b c.txt"); }, "DownLoadInfo");
    succeeds(function () { control.AllowPopUp("www.example.test"); }, "AllowPopUp");
    // Names are looked up without regard to case, as a browser page may write them.
    succeeds(function () { control.checkinstall(); }, "checkinstall in lower case");

    // Empty credentials: the explorer declines (S_FALSE, which script cannot see)
    // and stores them, so the web link declines too and says so with "0".
    // Neither shows the install dialog nor starts a program.
    check(succeeds(function () { return control.LauncherExplorer("", ""); }, "LauncherExplorer") === undefined,
          "LauncherExplorer returns no value");
    var link = succeeds(function () { return control.LauncherWebLink("", "", "http://www.example.test/f/1"); },
                        "LauncherWebLink");
    check(typeof link == "string", "LauncherWebLink returns a string, got " + typeof link);
    check(link === "0", "LauncherWebLink without credentials returns \"0\", got \"" + link + "\"");
    // The stored credentials belong to the module: another object sees them empty too.
    check(second.LauncherWebLink("", "", "") === "0", "LauncherWebLink on a second object returns \"0\"");

    // Too few arguments: refused by the dispatch, the method never runs.
    raises(function () { control.AllowPopUp(); }, DISP_E_BADPARAMCOUNT, "AllowPopUp()");
    raises(function () { control.SelectComplete("a", "b"); }, DISP_E_BADPARAMCOUNT, "SelectComplete(2 args)");
    raises(function () { control.UpLoadInfo(); }, DISP_E_BADPARAMCOUNT, "UpLoadInfo()");
    raises(function () { control.UpLoadEnd("user"); }, DISP_E_BADPARAMCOUNT, "UpLoadEnd(1 arg)");
    raises(function () { control.DownLoadInfo("1"); }, DISP_E_BADPARAMCOUNT, "DownLoadInfo(1 arg)");
    raises(function () { control.DownLoadEnd("user", "pw"); }, DISP_E_BADPARAMCOUNT, "DownLoadEnd(2 args)");
    raises(function () { control.LauncherExplorer("user"); }, DISP_E_BADPARAMCOUNT, "LauncherExplorer(1 arg)");
    raises(function () { control.LauncherWebLink("user", "pw"); }, DISP_E_BADPARAMCOUNT, "LauncherWebLink(2 args)");

    // The methods that open a dialog exist by name: reading one as a property
    // reaches the control (which has no such property) instead of failing the lookup.
    var names = ["ShowUpFileDlg", "UpLoadInit", "DownLoadInit", "DownLoadSpInit"];
    for (var i = 0; i < names.length; i++)
        check(typeof control[names[i]] == "unknown", names[i] + " is a method of the control, typeof gives "
              + typeof control[names[i]]);
    check(typeof control.NoSuchMethod == "undefined", "an unknown name is undefined");
    raises(function () { control.NoSuchMethod(); }, JS_E_UNSUPPORTED, "NoSuchMethod()");
}

try {
    run();
} catch (e) {
    check(false, "unexpected error " + hex(e.number));
}
if (failures) {
    WScript.Echo("FAILED " + failures + " of " + checks + " checks");
    WScript.Quit(1);
}
WScript.Echo("PASS " + checks + " checks");
WScript.Quit(0);
