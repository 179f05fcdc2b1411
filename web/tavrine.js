// tavrine.js: one API for the service's pages over the control (an ActiveX object,
// in Edge's IE mode) or the browser extension (Edge, Chrome, Firefox), which hands
// each call to the native host TavrineBridge.exe.
//
//   Tavrine.CheckInstall(callback)          every method of the control, by its name,
//   Tavrine.UpLoadInfo(strIdx, callback)    with its string arguments in order and a
//   ...                                     last, optional callback(error, value)
//
// Each method returns a Promise where the browser has one. Events reach the page's
// own handlers, control_InstallCompleteEvent() and control_UpSelectComplete(strPath,
// strSize, strMode), before the call's callback. Calls run in the order they were
// made: with the extension each waits for the one before to finish.
//
// value: the string of LauncherWebLink ("1" or "0"). Through the extension the other
// methods answer true, or false where the control would have declined (S_FALSE); the
// ActiveX object cannot tell script that, so there they answer undefined.
// error: null, or { code, message }; code "unavailable" when neither the control nor
// the extension is there (the message points to Tavrine.installPage), "timeout" when
// the extension's answer did not come within Tavrine.timeout milliseconds (the time
// the picker or the install dialog is open, by its dialog notice, does not count),
// "busy" when the host had too many calls waiting.
//
// With the ActiveX object every call is synchronous, as the control's own calls are:
// the callback has run when the method returns. Kept to ES5 and to what IE's JScript
// runs (no Promise needed, no reserved words as property names).

var Tavrine = (function (global) {
    // The control's methods and how many strings each takes.
    var methods = {
        CheckInstall: 0, AllowPopUp: 1, ShowUpFileDlg: 0, SelectComplete: 3,
        UpLoadInit: 0, UpLoadInfo: 1, UpLoadEnd: 2, DownLoadInit: 0, DownLoadInfo: 2,
        DownLoadEnd: 3, LauncherExplorer: 2, LauncherWebLink: 3, DownLoadSpInit: 0
    };
    // The attribute the extension's content script puts on the page's root element
    // before any page script runs.
    var MARKER = "data-tavrine-bridge";

    var api = {
        installPage: "https://www.tavrine.example/install/",
        // Called as onDialog(name, state) when the host's picker ("picker") or install
        // dialog ("install") opens or closes: it has no owner window in the page.
        onDialog: null,
        // The ActiveX object, when it is not the global "control".
        object: null,
        // How long an extension call may take, in milliseconds, not counting the time
        // its picker or install dialog is open; then it fails "timeout" and the next
        // call goes out.
        timeout: 60000
    };

    var chosen = null;      // "activex", "extension" or "none", decided at the first call
    var queue = [];         // extension calls not yet answered, oldest first
    var current = null;     // the one sent to the extension
    var nextId = 1;
    var listening = false;

    function pageOrigin() {
        var l = global.location;
        return l.origin || (l.protocol + "//" + l.host);
    }

    function hasActiveX() {
        return typeof ActiveXObject != "undefined" ||
               (typeof global.window != "undefined" && "ActiveXObject" in global.window);
    }

    function controlObject() {
        if (api.object)
            return api.object;
        // An identifier, not global.control: a script host's named item is no property
        // of the global object.
        return typeof control != "undefined" ? control : null;
    }

    function detect() {
        if (chosen)
            return chosen;
        if (typeof document != "undefined" && document.documentElement &&
            document.documentElement.getAttribute(MARKER))
            chosen = "extension";
        else if (hasActiveX() && controlObject())
            chosen = "activex";
        else
            chosen = "none";
        return chosen;
    }

    function unavailable() {
        return {
            code: "unavailable",
            message: "이 브라우저에서 Tavrine 확장 프로그램도 컨트롤도 찾지 못했습니다. 설치 안내: " + api.installPage
        };
    }

    // Runs a page handler; an error in it must not stop the calls after it.
    function runHandler(fn, args) {
        try {
            fn.apply(null, args);
        } catch (e) {
            if (typeof setTimeout != "undefined")
                setTimeout(function () { throw e; }, 0);
            else
                throw e;
        }
    }

    // ---------------------------------------------------------------------------
    // The ActiveX object: the call itself, synchronous. A COM method is no script
    // function and has no apply, hence one call form per argument count.

    function callActiveX(op, args) {
        var o = controlObject();
        switch (args.length) {
        case 0: return o[op]();
        case 1: return o[op](args[0]);
        case 2: return o[op](args[0], args[1]);
        default: return o[op](args[0], args[1], args[2]);
        }
    }

    // ---------------------------------------------------------------------------
    // The extension: window.postMessage to the content script, answers back the
    // same way. Only messages from this very window and origin count: a frame of
    // the page cannot speak for the extension.

    function onMessage(event) {
        var data = event.data;
        if (event.source !== global.window || event.origin !== pageOrigin() || !data ||
            data.tavrine !== "extension" || !current || data.id !== current.id)
            return;
        var call = current;
        if (data.type === "event") {
            var handler = global["control_" + data.name];
            if (typeof handler == "function" && isStrings(data.args))
                runHandler(handler, data.args);
        } else if (data.type === "dialog") {
            // The user has a dialog to answer: the call's time stops while it is open.
            call.dialogs += data.state === "open" ? 1 : call.dialogs > 0 ? -1 : 0;
            if (call.dialogs > 0)
                disarm(call);
            else
                arm(call);
            if (typeof api.onDialog == "function")
                runHandler(api.onDialog, [data.name, data.state]);
        } else if (data.type === "result" || data.type === "error") {
            current = null;
            disarm(call);
            if (data.type === "result")
                finish(call, null, data.value);
            else
                finish(call, { code: String(data.code), message: String(data.message) });
            sendNext();
        }
    }

    function isStrings(list) {
        if (!list || typeof list.length != "number")
            return false;
        for (var i = 0; i < list.length; i++)
            if (typeof list[i] != "string")
                return false;
        return true;
    }

    function sendNext() {
        if (current || queue.length == 0)
            return;
        current = queue.shift();
        arm(current);
        global.window.postMessage({ tavrine: "page", id: current.id, op: current.op, args: current.args },
                                  pageOrigin());
    }

    // A call whose answer never comes (a host that cannot attribute it, or that
    // hangs) must not hold every call after it: it fails, and the queue goes on.
    // A late answer carries its old id and is not taken.
    function arm(call) {
        disarm(call);
        call.timer = setTimeout(function () {
            call.timer = null;
            if (current !== call)
                return;
            current = null;
            finish(call, { code: "timeout",
                           message: "Tavrine 연결 프로그램이 " + call.op + "에 제때 응답하지 않았습니다" });
            sendNext();
        }, api.timeout);
    }

    function disarm(call) {
        if (call.timer !== null)
            clearTimeout(call.timer);
        call.timer = null;
    }

    function finish(call, error, value) {
        if (call.done)
            runHandler(call.done, [error, value]);
    }

    // ---------------------------------------------------------------------------

    function invoke(op, argsIn) {
        var count = methods[op];
        var args = [];
        for (var i = 0; i < count; i++)
            args[i] = i < argsIn.length && argsIn[i] !== undefined && argsIn[i] !== null ? String(argsIn[i]) : "";
        var done = argsIn.length > count && typeof argsIn[count] == "function" ? argsIn[count] : null;

        var promise = null;
        if (typeof Promise == "function") {
            var outer = done;
            promise = new Promise(function (resolve, reject) {
                done = function (error, value) {
                    if (error)
                        reject(error);
                    else
                        resolve(value);
                    if (outer)
                        outer(error, value);
                };
            });
            // With a callback the caller hears the error there.
            if (outer)
                promise["catch"](function () {});
        }

        var mode = detect();
        if (mode == "activex") {
            var value, error = null;
            try {
                value = callActiveX(op, args);
            } catch (e) {
                error = { code: "control", message: String(e && (e.description || e.message) || e) };
            }
            if (done)
                runHandler(done, [error, value]);
        } else if (mode == "extension") {
            if (!listening) {
                global.window.addEventListener("message", onMessage, false);
                listening = true;
            }
            queue.push({ id: nextId++, op: op, args: args, done: done, timer: null, dialogs: 0 });
            sendNext();
        } else if (done) {
            runHandler(done, [unavailable()]);
        }
        return promise;
    }

    function method(op) {
        return function () {
            return invoke(op, arguments);
        };
    }
    for (var name in methods)
        if (methods.hasOwnProperty(name))
            api[name] = method(name);

    // "activex", "extension" or "none".
    api.mode = detect;
    api.available = function () {
        return detect() != "none";
    };
    api.unavailableMessage = function () {
        return unavailable().message;
    };
    return api;
})(this);
