// The user of the demonstration session (tools/demo.sh): runs after page.js in
// the page host and does, step by step, what the buttons of upload.html do.
// Everything the page receives from the control is printed by page.js's handlers.

function step(title) {
    pageLog("");
    pageLog("== " + title);
}

step("1. 컨트롤 확인");
pageLog("  -> control.CheckInstall()");
if (!checkControl()) {
    pageLog("  컨트롤이 응답하지 않습니다");
    host.Quit(1);
}
pageLog("  컨트롤 준비 완료");

step("2. 선택한 항목 보고");
// The items of a chosen folder and a chosen file, as the picker reports them.
var folder = "C:\\자료\\사진";
var items = [
    [folder, "-1", "-1"],
    [folder + "\\여행", "-1", folder],
    [folder + "\\여행\\a.jpg", "1000", folder],
    [folder + "\\b.jpg", "2048", folder],
    ["C:\\자료\\메모.txt", "5", "-1"]
];
for (var i = 0; i < items.length; i++) {
    pageLog("  -> control.SelectComplete(\"" + items[i].join("\", \"") + "\")");
    reportItem(items[i][0], items[i][1], items[i][2]);
}
pageLog("  받은 항목 " + page.picked.length + "개, 그중 파일 " + pickedFiles().length + "개");

step("3. 웹 링크 (로그인 전)");
pageLog("  -> control.LauncherWebLink(\"\", \"\", \"https://tavrine.example/s/7f3a\")");
var passed = openWebLink("", "", "https://tavrine.example/s/7f3a");
pageLog(passed ? "  링크를 전달했습니다" : "  로그인 정보가 없어 전달하지 않았습니다 (\"0\")");

pageLog("");
pageLog("데모 끝");
