// Script of the sample upload page (examples/upload.html). It reaches the control
// only through tavrine.js (web/tavrine.js, loaded before it), which speaks to the
// ActiveX object with id "control" in IE mode and to the browser extension
// elsewhere. The same script runs unchanged in the project's page host
// (programs/pagehost/PageHost.cpp), which adds "host", and in Chromium; the page
// therefore writes its log through pageLog and never assumes any one of them.
//
// Events: control_InstallCompleteEvent() and control_UpSelectComplete(strPath,
// strSize, strMode). upload.html binds them with <script for="control" event="...">
// for the ActiveX object, the page host binds them by name, and tavrine.js calls
// them for the extension. They arrive before the call that fires them answers.
// Every action takes a callback: with the ActiveX object it has run when the
// action returns, with the extension it runs later.
// Kept to the language level of the platform's JScript engine (no ES5).

var page = {
    answered: false,   // InstallCompleteEvent has arrived since the last check
    picked: [],        // one { path, size, mode } per UpSelectComplete, in order
    onItem: null,      // the page's display, called with each new item
    finished: null,    // the exit code of a scripted session, once it has ended
    // What the service offers for download: its identifier and the local path
    // the download program saves it to (sample data of this page).
    downloads: [
        { id: "2001", path: "C:\\Tavrine 받은 파일\\회의록 3월.hwp" },
        { id: "2002", path: "C:\\Tavrine 받은 파일\\사진\\단체 사진.jpg" }
    ]
};

function pageLog(text) {
    if (typeof host != "undefined") {
        host.Echo(text);
        return;
    }
    if (typeof console != "undefined" && console.log)
        console.log(text);
    var log = document.getElementById("log");
    if (log)
        log.appendChild(document.createTextNode(text + "\r\n"));
}

// The end of a scripted session (examples/demo.js): the page host ends with the code,
// a browser keeps it for whoever drives the page.
function pageFinish(code) {
    if (typeof host != "undefined")
        host.Quit(code);
    page.finished = code;
}

// ---------------------------------------------------------------------------
// Event handlers

function control_InstallCompleteEvent() {
    page.answered = true;
    pageLog("  <- InstallCompleteEvent: 컨트롤이 응답했습니다");
}

function control_UpSelectComplete(strPath, strSize, strMode) {
    var item = { path: strPath, size: strSize, mode: strMode };
    page.picked[page.picked.length] = item;
    pageLog("  <- UpSelectComplete: " + describeItem(item));
    if (page.onItem)
        page.onItem(item);
}

// strSize is "-1" for a folder, else the byte count; strMode is "-1" for an
// item chosen directly, else the chosen folder that the item was found under.
function describeItem(item) {
    var kind = item.size == "-1" ? "폴더" : item.size + " 바이트";
    var where = item.mode == "-1" ? "직접 선택" : item.mode + " 아래";
    return item.path + " [" + kind + ", " + where + "]";
}

// ---------------------------------------------------------------------------
// What the page's buttons do

// The host's picker and install dialog have no window of the page as their owner:
// the page says when one is open (tavrine.js tells it; IE mode never does).
Tavrine.onDialog = function (name, state) {
    var what = name == "picker" ? "파일 선택 창" : "설치 창";
    pageLog("  (" + what + (state == "open" ? "이 열렸습니다)" : "이 닫혔습니다)"));
};

// Does the control answer script? CheckInstall fires InstallCompleteEvent at once.
// done(answered, error); error.message says what is missing and where to get it.
function checkControl(done) {
    page.answered = false;
    Tavrine.CheckInstall(function (error) {
        done(!error && page.answered, error);
    });
}

// Lets the site open pop-up windows: the control adds it to the browser's allow
// list; the extension allows the page's own origin, and only when site names it.
// A browser that lets no extension change its pop-up setting (Firefox) answers
// "unsupported": then only the user can allow them, and the page says how.
function allowPopUps(site, done) {
    Tavrine.AllowPopUp(site, function (error, value) {
        if (error && error.code == "unsupported")
            showPopUpHelp();
        if (done)
            done(error, value);
    });
}

// How the user allows this site's pop-ups by hand (Firefox's menus).
function popUpHelp() {
    var host = typeof location != "undefined" ? location.host : "이 사이트";
    return [
        "이 브라우저에서는 확장 프로그램이 팝업을 허용할 수 없습니다. 팝업 창을 직접 허용해 주십시오.",
        "1. 주소 표시줄 아래에 팝업 차단 알림이 나오면 [설정]을 누르고 '" + host + "의 팝업 허용'을 고릅니다.",
        "2. 또는 Firefox 설정 → 개인 정보 및 보안 → 권한 → '팝업 창 차단' 옆 [예외...]에 https://" + host +
            " 을 적고 [허용], [변경 사항 저장]을 누릅니다."
    ];
}

// Into the log, and into the page's box for it where the page has one (upload.html).
function showPopUpHelp() {
    var lines = popUpHelp();
    for (var i = 0; i < lines.length; i++)
        pageLog("  " + lines[i]);
    var box = typeof document != "undefined" ? document.getElementById("popupHelp") : null;
    if (!box)
        return;
    while (box.firstChild)
        box.removeChild(box.firstChild);
    for (var j = 0; j < lines.length; j++) {
        var line = document.createElement("p");
        line.appendChild(document.createTextNode(lines[j]));
        box.appendChild(line);
    }
    box.style.display = "block";
}

// The file picker: every item the user adds, and everything below an added
// folder, arrives as UpSelectComplete while the picker is still open.
// done(count of new items).
function pickFiles(done) {
    var before = page.picked.length;
    Tavrine.ShowUpFileDlg(function (error) {
        done(page.picked.length - before, error);
    });
}

// A page may report items of its own the same way the picker does.
function reportItem(path, size, mode, done) {
    Tavrine.SelectComplete(path, size, mode, done);
}

function clearPicked() {
    page.picked = [];
}

// Files only: folders are reported for the page's display, the upload takes files.
function pickedFiles() {
    var files = [];
    for (var i = 0; i < page.picked.length; i++)
        if (page.picked[i].size != "-1")
            files[files.length] = page.picked[i];
    return files;
}

// The identifier the upload program gets for a picked file. A real page
// would use what the service assigned when it listed the file; the sample
// sends the file's path, which the upload program can open directly.
function uploadItemId(item, index) {
    return item.path;
}

// One batch: the calls go out in order, each after the one before has finished;
// done(error, value) hears the End call, or the first call that failed.
function batchCalls() {
    var failed = null;
    return {
        step: function (error) {
            if (error && !failed)
                failed = error;
        },
        end: function (done) {
            return function (error, value) {
                if (done)
                    done(failed || error, value);
            };
        }
    };
}

// Upload batch: one item per picked file, handed to the upload program at
// the end. The Init call checks that the companion programs are installed
// (and installs them if needed) before the batch starts. Returns the count.
function uploadPicked(userId, password, done) {
    var files = pickedFiles();
    var batch = batchCalls();
    Tavrine.UpLoadInit(batch.step);
    for (var i = 0; i < files.length; i++)
        Tavrine.UpLoadInfo(uploadItemId(files[i], i), batch.step);
    Tavrine.UpLoadEnd(userId, password, batch.end(done));
    return files.length;
}

// Download batch: every entry of page.downloads with its local path; a mode
// beginning with "S" selects the fast download program. Returns the count.
function downloadListed(userId, password, mode, done) {
    var batch = batchCalls();
    Tavrine.DownLoadInit(batch.step);
    for (var i = 0; i < page.downloads.length; i++)
        Tavrine.DownLoadInfo(page.downloads[i].id, page.downloads[i].path, batch.step);
    Tavrine.DownLoadEnd(userId, password, mode, batch.end(done));
    return page.downloads.length;
}

// A web link for the download program; done(true) when the control passed it on.
// Empty credentials reuse the ones given last; without any it declines.
function openWebLink(userId, password, link, done) {
    Tavrine.LauncherWebLink(userId, password, link, function (error, value) {
        done(!error && value == "1", error);
    });
}

function openExplorer(userId, password, done) {
    Tavrine.LauncherExplorer(userId, password, done);
}
