// web/tavrine.js under Node, in a small window of its own: which way it takes, the
// order of calls through the extension, events before answers, messages it must
// not take, and the page without either way.
"use strict";

const test = require("node:test");
const assert = require("node:assert");
const fs = require("fs");
const path = require("path");
const vm = require("vm");

const SOURCE = fs.readFileSync(path.join(__dirname, "..", "tavrine.js"), "utf8");
const ORIGIN = "https://www.tavrine.example";

// A window whose postMessage delivers later, as a browser's does, with the source
// and origin the sender had. extension(msg, reply) plays the content script.
function makeWindow(options) {
    const listeners = [];
    const marker = options.extension ? "1.15.3.9" : null;
    const win = {
        location: { origin: ORIGIN, protocol: "https:", host: "www.tavrine.example" },
        addEventListener: (type, fn) => { if (type === "message") listeners.push(fn); },
        setTimeout, clearTimeout, Promise,
    };
    const deliver = (data, source, origin) => setImmediate(() => {
        for (const fn of listeners.slice())
            fn({ data: JSON.parse(JSON.stringify(data)), source, origin });
    });
    win.window = win;
    let self = null;   // the window as script inside sees it
    win.postMessage = (data, target) => {
        assert.strictEqual(target, ORIGIN, "the page posts to its own origin only");
        deliver(data, self, ORIGIN);
        if (data.tavrine === "page" && options.extension)
            options.extension(data, (reply) => deliver(Object.assign({ tavrine: "extension" }, reply), self, ORIGIN));
    };
    win.document = { documentElement: { getAttribute: (n) => (n === "data-tavrine-bridge" ? marker : null) } };
    win.deliver = deliver;
    if (options.control)
        win.control = options.control;
    if (options.activeX)
        win.ActiveXObject = function () {};
    vm.createContext(win);
    self = vm.runInContext("this", win);
    win.self = self;
    vm.runInContext(SOURCE, win);
    return win;
}

test("through the extension: calls in order, each after the one before, events before the answer", async () => {
    const sent = [];
    let busy = false;
    const win = makeWindow({
        extension: (msg, reply) => {
            assert.ok(!busy, "a request went out while another was open: " + msg.op);
            busy = true;
            sent.push(msg.op + "(" + msg.args.join(",") + ")");
            // Answers come late, and later for the first calls.
            setTimeout(() => {
                if (msg.op === "ShowUpFileDlg") {
                    reply({ type: "dialog", id: msg.id, name: "picker", state: "open" });
                    reply({ type: "event", id: msg.id, name: "UpSelectComplete", args: ["T:\\a", "1", "-1"] });
                }
                busy = false;
                reply({ type: "result", id: msg.id, value: msg.op === "UpLoadEnd" ? false : true });
            }, msg.op === "UpLoadInit" ? 20 : 1);
        },
    });
    const heard = [];
    win.control_UpSelectComplete = (p, s, m) => heard.push("event " + p + " " + s + " " + m);
    win.Tavrine.onDialog = (name, state) => heard.push("dialog " + name + " " + state);
    assert.strictEqual(win.Tavrine.mode(), "extension");

    win.Tavrine.ShowUpFileDlg((e, v) => heard.push("answer " + v));
    win.Tavrine.UpLoadInit();
    win.Tavrine.UpLoadInfo("1001");
    win.Tavrine.UpLoadInfo(2002);
    const end = await new Promise((resolve) => win.Tavrine.UpLoadEnd("id", "pw", (e, v) => resolve(v)));
    assert.deepStrictEqual(sent, ["ShowUpFileDlg()", "UpLoadInit()", "UpLoadInfo(1001)", "UpLoadInfo(2002)", "UpLoadEnd(id,pw)"]);
    assert.deepStrictEqual(heard, ["dialog picker open", "event T:\\a 1 -1", "answer true"]);
    assert.strictEqual(end, false, "the host's false (declined) reaches the page");

    const promised = await win.Tavrine.CheckInstall();
    assert.strictEqual(promised, true, "the Promise resolves with the answer");
});

test("through the extension: messages from frames, other origins and stale ids are not taken", async () => {
    let pendingReply = null, sentId = null;
    const win = makeWindow({ extension: (msg, reply) => { sentId = msg.id; pendingReply = reply; } });
    const heard = [];
    win.control_InstallCompleteEvent = () => heard.push("event");
    const answer = new Promise((resolve) => win.Tavrine.CheckInstall((e, v) => resolve(v)));
    await new Promise((r) => setImmediate(r));
    const frame = {};
    win.deliver({ tavrine: "extension", type: "event", id: sentId, name: "InstallCompleteEvent", args: [] }, frame, ORIGIN);
    win.deliver({ tavrine: "extension", type: "result", id: sentId, value: "forged" }, frame, ORIGIN);
    win.deliver({ tavrine: "extension", type: "result", id: sentId, value: "forged" }, win.self, "https://other.example");
    win.deliver({ tavrine: "extension", type: "result", id: sentId + 7, value: "stale" }, win.self, ORIGIN);
    win.deliver({ tavrine: "extension", type: "event", id: sentId, name: "InstallCompleteEvent", args: [1] }, win.self, ORIGIN);
    await new Promise((r) => setImmediate(r));
    assert.deepStrictEqual(heard, [], "nothing reached the handler");
    pendingReply({ type: "event", id: sentId, name: "InstallCompleteEvent", args: [] });
    pendingReply({ type: "result", id: sentId, value: true });
    assert.strictEqual(await answer, true);
    assert.deepStrictEqual(heard, ["event"]);
});

test("an error of the extension reaches the callback and rejects the Promise; the queue goes on", async () => {
    const win = makeWindow({
        extension: (msg, reply) => reply(msg.op === "UpLoadInit"
            ? { type: "error", id: msg.id, code: "host", message: "gone" }
            : { type: "result", id: msg.id, value: true }),
    });
    const error = await new Promise((resolve) => win.Tavrine.UpLoadInit((e) => resolve(e)));
    assert.deepStrictEqual({ code: error.code, message: error.message }, { code: "host", message: "gone" });
    await assert.rejects(win.Tavrine.UpLoadInit(), (e) => e.code === "host");
    assert.strictEqual(await win.Tavrine.DownLoadInit(), true);
});

test("a call whose answer never comes fails \"timeout\" and the next goes out; an open dialog stops the time",
     { timeout: 10000 }, async () => {
    const sent = [];
    let lateReply = null;
    const win = makeWindow({
        extension: (msg, reply) => {
            sent.push(msg.op);
            if (msg.op === "CheckInstall")
                lateReply = () => reply({ type: "result", id: msg.id, value: "late" });
            else if (msg.op === "ShowUpFileDlg") {
                // The picker stays open five times as long as the bound, twice over.
                reply({ type: "dialog", id: msg.id, name: "picker", state: "open" });
                setTimeout(() => reply({ type: "dialog", id: msg.id, name: "picker", state: "closed" }), 250);
                setTimeout(() => reply({ type: "dialog", id: msg.id, name: "install", state: "open" }), 270);
                setTimeout(() => reply({ type: "dialog", id: msg.id, name: "install", state: "closed" }), 520);
                setTimeout(() => reply({ type: "result", id: msg.id, value: true }), 540);
            } else
                reply({ type: "result", id: msg.id, value: msg.op === "UpLoadEnd" ? false : true });
        },
    });
    win.Tavrine.timeout = 50;
    const order = [];
    const stuck = new Promise((resolve) => win.Tavrine.CheckInstall((e, v) => { order.push("CheckInstall"); resolve([e, v]); }));
    const picked = win.Tavrine.ShowUpFileDlg();
    const ended = win.Tavrine.UpLoadEnd("u", "p");
    const [error, value] = await stuck;
    assert.strictEqual(error && error.code, "timeout");
    assert.strictEqual(value, undefined);
    lateReply();   // the stuck call's answer, long after: taken by no other call
    assert.strictEqual(await picked, true, "the picker's call outlived the bound while its dialogs were open");
    assert.strictEqual(await ended, false);
    assert.deepStrictEqual(sent, ["CheckInstall", "ShowUpFileDlg", "UpLoadEnd"]);
    assert.deepStrictEqual(order, ["CheckInstall"]);
    // A call without a dialog that takes longer than the bound after its dialog closed fails too.
    const win2 = makeWindow({
        extension: (msg, reply) => {
            reply({ type: "dialog", id: msg.id, name: "install", state: "open" });
            setTimeout(() => reply({ type: "dialog", id: msg.id, name: "install", state: "closed" }), 10);
        },
    });
    win2.Tavrine.timeout = 50;
    await assert.rejects(win2.Tavrine.UpLoadInit(), (e) => e.code === "timeout");
});

test("the ActiveX object: synchronous calls, arguments as strings, the control's answer as it is", () => {
    const calls = [];
    const control = {};
    for (const op of ["CheckInstall", "UpLoadInfo", "DownLoadEnd", "LauncherWebLink"])
        control[op] = function () {
            calls.push(op + "(" + Array.prototype.join.call(arguments, ",") + ")");
            if (op === "CheckInstall")
                win.control_InstallCompleteEvent();
            return op === "LauncherWebLink" ? "0" : undefined;
        };
    control.UpLoadEnd = () => { throw { description: "Out of memory" }; };
    const order = [];
    const win = makeWindow({ control, activeX: true });
    win.control_InstallCompleteEvent = () => order.push("event");
    assert.strictEqual(win.Tavrine.mode(), "activex");
    win.Tavrine.CheckInstall(() => order.push("answer"));
    order.push("returned");
    assert.deepStrictEqual(order, ["event", "answer", "returned"]);
    win.Tavrine.UpLoadInfo(7);
    win.Tavrine.DownLoadEnd("u", null);
    let value;
    win.Tavrine.LauncherWebLink("", "", "https://x", (e, v) => { value = v; });
    assert.strictEqual(value, "0");
    assert.deepStrictEqual(calls, ["CheckInstall()", "UpLoadInfo(7)", "DownLoadEnd(u,,)", "LauncherWebLink(,,https://x)"]);
    let thrown;
    win.Tavrine.UpLoadEnd("u", "p", (e) => { thrown = e; });
    assert.deepStrictEqual({ code: thrown.code, message: thrown.message }, { code: "control", message: "Out of memory" });
});

test("neither the extension nor ActiveX: every call says so and points to the install page", async () => {
    // An object tag that no ActiveX engine filled in: a plain element.
    const win = makeWindow({ control: { tagName: "OBJECT" } });
    assert.strictEqual(win.Tavrine.mode(), "none");
    const error = await new Promise((resolve) => win.Tavrine.CheckInstall((e) => resolve(e)));
    assert.strictEqual(error.code, "unavailable");
    assert.ok(error.message.includes(win.Tavrine.installPage), error.message);
    await assert.rejects(win.Tavrine.ShowUpFileDlg(), (e) => e.code === "unavailable");
});
