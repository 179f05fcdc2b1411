// Script of the sample upload page (examples/upload.html). The page holds the
// control in an object tag with id "control". The same script runs unchanged in
// the project's page host (programs/pagehost/PageHost.cpp), which adds "host"; the
// page therefore writes its log through pageLog and never assumes either one.
//
// Events: the control calls control_InstallCompleteEvent() and
// control_UpSelectComplete(strPath, strSize, strMode). upload.html binds them
// with <script for="control" event="...">; the page host binds them by name.
// Both arrive during the control method that fires them.
// Kept to the language level of the platform's JScript engine (no ES5).

var page = {
    answered: false,   // InstallCompleteEvent has arrived since the last check
    picked: [],        // one { path, size, mode } per UpSelectComplete, in order
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
    var log = document.getElementById("log");
    if (log)
        log.appendChild(document.createTextNode(text + "\r\n"));
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

// Does the control answer script? CheckInstall fires InstallCompleteEvent at once.
function checkControl() {
    page.answered = false;
    control.CheckInstall();
    return page.answered;
}

// Lets the site open pop-up windows (the control adds it to the browser's allow list).
function allowPopUps(site) {
    control.AllowPopUp(site);
}

// The file picker: every item the user adds, and everything below an added
// folder, arrives as UpSelectComplete while the picker is still open.
function pickFiles() {
    var before = page.picked.length;
    control.ShowUpFileDlg();
    return page.picked.length - before;
}

// A page may report items of its own the same way the picker does.
function reportItem(path, size, mode) {
    control.SelectComplete(path, size, mode);
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

// Upload batch: one item per picked file, handed to the upload program at
// the end. The Init call checks that the companion programs are installed
// (and installs them if needed) before the batch starts.
function uploadPicked(userId, password) {
    var files = pickedFiles();
    control.UpLoadInit();
    for (var i = 0; i < files.length; i++)
        control.UpLoadInfo(uploadItemId(files[i], i));
    control.UpLoadEnd(userId, password);
    return files.length;
}

// Download batch: every entry of page.downloads with its local path; a mode
// beginning with "S" selects the fast download program.
function downloadListed(userId, password, mode) {
    control.DownLoadInit();
    for (var i = 0; i < page.downloads.length; i++)
        control.DownLoadInfo(page.downloads[i].id, page.downloads[i].path);
    control.DownLoadEnd(userId, password, mode);
    return page.downloads.length;
}

// A web link for the download program; true when the control passed it on.
// Empty credentials reuse the ones given last; without any it declines.
function openWebLink(userId, password, link) {
    return control.LauncherWebLink(userId, password, link) == "1";
}

function openExplorer(userId, password) {
    control.LauncherExplorer(userId, password);
}
