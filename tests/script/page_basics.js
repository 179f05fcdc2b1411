// The sample page's script without the companion programs, run after
// web/tavrine.js and examples/page.js in the page host: its handlers record what
// the control reports, and its helpers read that record the way the page's
// buttons do. With the ActiveX object every callback has run when its call
// returns. Prints "PASS <n> checks" when everything held.

var checks = 0, failures = 0;

function check(condition, what) {
    checks++;
    if (!condition) {
        failures++;
        host.Echo("FAIL: " + what);
    }
}

// What the callback of one action was given; the callback must have run.
function answer(action, what) {
    var got = null;
    action(function () { got = arguments; });
    check(got !== null, what + ": the callback ran during the call");
    return got ? got[0] : undefined;
}

try {
    check(Tavrine.mode() == "activex", "tavrine.js took the ActiveX object, got " + Tavrine.mode());
    check(answer(checkControl, "checkControl") === true, "checkControl sees InstallCompleteEvent during CheckInstall");
    check(page.picked.length == 0, "nothing picked at first");
    reportItem("C:\\자료\\사진", "-1", "-1");
    reportItem("C:\\자료\\사진\\b.jpg", "2048", "C:\\자료\\사진");
    check(answer(function (done) { reportItem("C:\\메모.txt", "0", "-1", done); }, "reportItem") === null,
          "reportItem answers without an error");
    check(page.picked.length == 3, "three items recorded, got " + page.picked.length);
    check(page.picked[1].path == "C:\\자료\\사진\\b.jpg" && page.picked[1].size == "2048"
          && page.picked[1].mode == "C:\\자료\\사진", "the second item's three strings in order");
    var files = pickedFiles();
    check(files.length == 2 && files[0].size == "2048" && files[1].size == "0",
          "pickedFiles leaves out the folder and keeps a file of 0 bytes");
    check(describeItem(page.picked[0]) == "C:\\자료\\사진 [폴더, 직접 선택]", "a folder picked directly");
    check(describeItem(page.picked[1]) == "C:\\자료\\사진\\b.jpg [2048 바이트, C:\\자료\\사진 아래]",
          "a file found under a picked folder");
    clearPicked();
    check(page.picked.length == 0, "clearPicked empties the list");
    // No credentials stored and no download program running: the control declines.
    check(answer(function (done) { openWebLink("", "", "https://tavrine.example/s/1", done); }, "openWebLink") === false,
          "openWebLink without credentials");
    var value = answer(function (done) { Tavrine.LauncherWebLink("", "", "https://tavrine.example/s/2", function (e, v) { done(v); }); },
                       "LauncherWebLink");
    check(value === "0", "tavrine.js hands on the control's own answer \"0\", got " + value);
} catch (e) {
    check(false, "unexpected error 0x" + (e.number >>> 0).toString(16));
}
host.Echo(failures ? "FAILED " + failures + " of " + checks + " checks" : "PASS " + checks + " checks");
