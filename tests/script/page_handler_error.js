// An error inside an event handler cannot reach the control (it ignores what
// handlers return), so the page host reports it and still ends with exit code 1.
function control_InstallCompleteEvent() {
    throw new Error("handler failed");
}
control.CheckInstall();
host.Echo("after CheckInstall");
