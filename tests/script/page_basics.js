// The sample page's script without the companion programs, run after
// examples/page.js in the page host: its handlers record what the control
// reports, and its helpers read that record the way the page's buttons do.
// Prints "PASS <n> checks" when everything held.

var checks = 0, failures = 0;

function check(condition, what) {
    checks++;
    if (!condition) {
        failures++;
        host.Echo("FAIL: " + what);
    }
}

try {
    check(checkControl(), "checkControl sees InstallCompleteEvent during CheckInstall");
    check(page.picked.length == 0, "nothing picked at first");
    reportItem("C:\\자료\\사진", "-1", "-1");
    reportItem("C:\\자료\\사진\\b.jpg", "2048", "C:\\자료\\사진");
    reportItem("C:\\메모.txt", "0", "-1");
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
    check(openWebLink("", "", "https://tavrine.example/s/1") === false, "openWebLink without credentials");
} catch (e) {
    check(false, "unexpected error 0x" + (e.number >>> 0).toString(16));
}
host.Echo(failures ? "FAILED " + failures + " of " + checks + " checks" : "PASS " + checks + " checks");
