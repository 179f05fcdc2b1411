// The user of the demonstration session (tools/demo.sh): runs after tavrine.js and
// page.js, in the page host (the ActiveX control) or in Chromium (the extension
// and its host), and does, step by step, what the buttons of upload.html do. Each
// step starts when the one before has answered. Everything the page receives is
// printed by page.js's handlers; what the companion programs receive, tools/demo.sh
// prints after. tools/demo.sh prepares the machine: an update server with the
// setup program, the folder the user picks from (drive T:) and a driver that works
// the file picker like a user.

var userId = "demo", password = "tavrine123";

function step(title) {
    pageLog("");
    pageLog("== " + title);
}

// A step reports its outcome by calling next(true), or next(false) to end the session.
var demoSteps = [
    function (next) {
        step("1. 컨트롤 확인");
        pageLog("  -> control.CheckInstall()");
        checkControl(function (answered, error) {
            if (!answered) {
                pageLog("  컨트롤이 응답하지 않습니다" + (error ? ": " + error.message : ""));
                next(false);
                return;
            }
            pageLog("  컨트롤 준비 완료");
            next(true);
        });
    },
    function (next) {
        step("2. 팝업 허용");
        pageLog("  -> control.AllowPopUp(\"tavrine.example\")");
        allowPopUps("tavrine.example", function () { next(true); });
    },
    function (next) {
        step("3. 파일 선택 (T:\\자료 에서 폴더 '사진'과 파일 '메모.txt')");
        pageLog("  -> control.ShowUpFileDlg()");
        pickFiles(function (count) {
            pageLog("  선택 창이 닫혔습니다: 받은 항목 " + count + "개, 그중 파일 " + pickedFiles().length + "개");
            next(true);
        });
    },
    function (next) {
        step("4. 올리기 (처음이라 동반 프로그램을 업데이트 서버에서 설치)");
        pageLog("  -> control.UpLoadInit(), UpLoadInfo(...) x" + pickedFiles().length
                + ", UpLoadEnd(\"" + userId + "\", ...)");
        uploadPicked(userId, password, function (error) {
            pageLog(error ? "  업로드 작업을 넘기지 못했습니다: " + error.message : "  업로드 작업을 넘겼습니다");
            next(!error);
        });
    },
    function (next) {
        step("5. 받기");
        pageLog("  -> control.DownLoadInit(), DownLoadInfo(...) x" + page.downloads.length
                + ", DownLoadEnd(\"" + userId + "\", ..., \"D\")");
        downloadListed(userId, password, "D", function (error) {
            pageLog(error ? "  다운로드 작업을 넘기지 못했습니다: " + error.message : "  다운로드 작업을 넘겼습니다");
            next(!error);
        });
    },
    function (next) {
        step("6. 웹 링크");
        pageLog("  -> control.LauncherWebLink(\"\", \"\", \"https://tavrine.example/s/7f3a\")");
        openWebLink("", "", "https://tavrine.example/s/7f3a", function (passed) {
            pageLog(passed ? "  링크를 전달했습니다 (\"1\")" : "  링크를 전달하지 못했습니다 (\"0\")");
            next(true);
        });
    }
];

function runDemo(index) {
    if (index == demoSteps.length) {
        pageLog("");
        pageLog("데모 끝");
        pageFinish(0);
        return;
    }
    demoSteps[index](function (ok) {
        if (ok)
            runDemo(index + 1);
        else
            pageFinish(1);
    });
}

runDemo(0);
