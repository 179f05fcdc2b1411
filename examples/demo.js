// The user of the demonstration session (tools/demo.sh): runs after page.js in
// the page host and does, step by step, what the buttons of upload.html do.
// Everything the page receives from the control is printed by page.js's
// handlers; what the companion programs receive, tools/demo.sh prints after.
// tools/demo.sh prepares the machine: an update server with the setup program,
// the folder the user picks from (drive T:) and a driver that works the file
// picker like a user.

var userId = "demo", password = "tavrine123";

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

step("2. 팝업 허용");
pageLog("  -> control.AllowPopUp(\"tavrine.example\")");
allowPopUps("tavrine.example");

step("3. 파일 선택 (T:\\자료 에서 폴더 '사진'과 파일 '메모.txt')");
pageLog("  -> control.ShowUpFileDlg()");
var count = pickFiles();
pageLog("  선택 창이 닫혔습니다: 받은 항목 " + count + "개, 그중 파일 " + pickedFiles().length + "개");

step("4. 올리기 (처음이라 동반 프로그램을 업데이트 서버에서 설치)");
pageLog("  -> control.UpLoadInit(), UpLoadInfo(...) x" + pickedFiles().length
        + ", UpLoadEnd(\"" + userId + "\", ...)");
uploadPicked(userId, password);
pageLog("  업로드 작업을 넘겼습니다");

step("5. 받기");
pageLog("  -> control.DownLoadInit(), DownLoadInfo(...) x" + page.downloads.length
        + ", DownLoadEnd(\"" + userId + "\", ..., \"D\")");
downloadListed(userId, password, "D");
pageLog("  다운로드 작업을 넘겼습니다");

step("6. 웹 링크");
pageLog("  -> control.LauncherWebLink(\"\", \"\", \"https://tavrine.example/s/7f3a\")");
var passed = openWebLink("", "", "https://tavrine.example/s/7f3a");
pageLog(passed ? "  링크를 전달했습니다 (\"1\")" : "  링크를 전달하지 못했습니다 (\"0\")");

pageLog("");
pageLog("데모 끝");
