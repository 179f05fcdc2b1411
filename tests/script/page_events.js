// Both events of the control as a page receives them in the page host: the
// handlers control_InstallCompleteEvent and control_UpSelectComplete are bound
// by name, run during the call that fires them, and see the arguments in order.
// The test compares stdout with page_events.expected (UTF-8, Korean included).

var log = [];
var depth = 0;   // > 0 while a control method runs

function control_InstallCompleteEvent() {
    host.Echo("InstallCompleteEvent" + (depth > 0 ? " (during the call)" : " (after the call)"));
    // Nothing stops a handler from calling the control again: the event arrives nested.
    if (log.length == 0) {
        log.push("nested");
        control.SelectComplete("안쪽", "0", "-1");
    }
}

function control_UpSelectComplete(strPath, strSize, strMode) {
    host.Echo("UpSelectComplete [" + strPath + "] [" + strSize + "] [" + strMode + "] "
              + typeof strPath + " " + arguments.length);
}

function call(name, f) {
    depth++;
    f();
    depth--;
    host.Echo(name + " returned");
}

host.Echo("host " + host.Host + ", " + host.ArgCount + " arguments: " + host.Arg(0) + " " + host.Arg(1));
call("CheckInstall", function () { control.CheckInstall(); });
call("SelectComplete", function () { control.SelectComplete("C:\\자료\\사진 모음", "-1", "-1"); });
call("SelectComplete", function () { control.SelectComplete("C:\\자료\\사진 모음\\여행\\a.jpg", "1000",
                                                            "C:\\자료\\사진 모음"); });
call("SelectComplete", function () { control.SelectComplete("", "", ""); });
host.Echo("done");
