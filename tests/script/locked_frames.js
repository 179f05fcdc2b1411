// A build locked to https://www.tavrine.example and https://*.tavrine.example,
// run in the page host: the document that holds the control is the authority,
// the browser object's address must have its origin, and the window on top
// must be an allowed page too. Arg(0) names how the host sited the control
// ("object" or "script"). Prints "PASS <n> checks" when everything held.

var checks = 0, failures = 0;
var events = 0;

function check(condition, what) {
    checks++;
    if (!condition) {
        failures++;
        host.Echo("FAIL: " + what);
    }
}

function control_InstallCompleteEvent() {
    events++;
}

function served() {
    events = 0;
    control.CheckInstall();
    return events == 1;
}

var page = "https://www.tavrine.example/share/";
// [what, document, browser, top ("" on top), served]
var rows = [
    ["an allowed page on top", page, page, "", true],
    ["the browser already at a stranger", page, "https://evil.test/", "", false],
    ["a stranger's document, the browser still at the page", "https://evil.test/", page, "", false],
    ["the browser at another allowed origin", page, "https://files.tavrine.example/", "", false],
    ["the browser at the page over http", page, "http://www.tavrine.example/share/", "", false],
    ["the same origin, another path", page, "https://WWW.tavrine.example/other?x=1", "", true],
    ["an allowed page in a stranger's top window", page, page, "https://evil.test/frame.html", false],
    ["an allowed page in an http top window", page, page, "http://www.tavrine.example/", false],
    ["an allowed page in its own top window", page, page, "https://www.tavrine.example/index.html", true],
    ["an allowed page in another allowed top window", page, page, "https://files.tavrine.example/", true],
    ["an allowed page on top again", page, page, "", true]
];

try {
    check(host.SitedAs == host.Arg(0), "sited as '" + host.SitedAs + "', not as " + host.Arg(0));
    for (var i = 0; i < rows.length; i++) {
        host.NavigateDocument(rows[i][1]);
        host.NavigateBrowser(rows[i][2]);
        host.NavigateTop(rows[i][3]);
        check(served() == rows[i][4], rows[i][0] + (rows[i][4] ? " is not served" : " is served"));
        if (!rows[i][4] && failures == 0)
            check(control.LauncherWebLink("user", "pw", "https://www.tavrine.example/s/1") == "0",
                  rows[i][0] + ": LauncherWebLink did not answer 0");
    }
} catch (e) {
    check(false, "unexpected error 0x" + (e.number >>> 0).toString(16) + " " + e.description);
}
host.Echo(failures ? "FAILED " + failures + " of " + checks + " checks" : "PASS " + checks + " checks");
