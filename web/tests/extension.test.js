// The extension's checks under Node: the site rules, the page's requests, and the
// background with a fake browser API: who may connect, one host per tab, the origin
// each request carries, AllowPopUp for the page's own origin only.
"use strict";

const test = require("node:test");
const assert = require("node:assert");
const fs = require("fs");
const path = require("path");
const vm = require("vm");

const DIR = path.join(__dirname, "..", "extension");
const Rules = require(path.join(DIR, "rules.js"));
const SITES = ["https://www.tavrine.example", "https://*.tavrine.example", "https://files.example:8443"];

test("origins against the site list", () => {
    const table = [
        ["https://www.tavrine.example", true],
        ["https://a.b.tavrine.example", true],
        ["https://tavrine.example", false],                // the suffix itself
        ["https://eviltavrine.example", false],            // no label boundary
        ["https://www.tavrine.example.evil", false],
        ["http://www.tavrine.example", false],              // not https
        ["https://www.tavrine.example:8443", false],        // another port
        ["https://files.example:8443", true],
        ["https://files.example", false],
        ["https://user@www.tavrine.example", false],
        ["https://WWW.tavrine.example", false],             // browsers write origins in lower case
        ["null", false],
        ["", false],
    ];
    for (const [origin, allowed] of table)
        assert.strictEqual(Rules.originAllowed(origin, SITES), allowed, origin);
});

test("the page's requests", () => {
    const table = [
        [{ id: 1, op: "CheckInstall", args: [] }, null],
        [{ id: 2, op: "DownLoadEnd", args: ["u", "p", "S"] }, null],
        [{ id: 3, op: "DownLoadEnd", args: ["u", "p"] }, "DownLoadEnd takes 3 strings"],
        [{ id: 4, op: "UpLoadInfo", args: [5] }, "UpLoadInfo takes strings only"],
        [{ id: 5, op: "toString", args: [] }, "no method toString"],
        [{ id: 6, op: "Quit", args: [] }, "no method Quit"],
        [{ id: 0, op: "CheckInstall", args: [] }, "id is a positive whole number"],
        [{ id: 1.5, op: "CheckInstall", args: [] }, "id is a positive whole number"],
        [{ id: "7", op: "CheckInstall", args: [] }, "id is a positive whole number"],
        [{ id: 8, op: "CheckInstall", args: "x" }, "CheckInstall takes 0 strings"],
        [null, "a request is an object"],
    ];
    for (const [msg, problem] of table)
        assert.strictEqual(Rules.checkRequest(msg), problem, JSON.stringify(msg));
});

test("what the host would not take: lone surrogates and requests over 1 MiB", () => {
    const mib = 1024 * 1024;
    const request = (args) => ({ id: 9007199254740991, op: "UpLoadInfo", args, origin: "https://www.tavrine.example" });
    const envelope = Rules.wireBytes(request([""]));
    const table = [
        [["plain 한글 \ud83d\ude00"], null],
        [["a\ud800"], "bad-arguments"],                    // a high half at the end
        [["\ud800x"], "bad-arguments"],                    // a high half before another character
        [["\udc00"], "bad-arguments"],                     // a low half alone
        [["\ude00\ud83d"], "bad-arguments"],              // a pair the wrong way round
        [["x".repeat(mib - envelope)], null],              // exactly the limit
        [["x".repeat(mib - envelope + 1)], "too-large"],
        [["한".repeat(Math.floor((mib - envelope) / 3))], null],
        [["한".repeat(Math.floor((mib - envelope) / 3) + 1)], "too-large"],   // three bytes each
        [["<".repeat(Math.floor((mib - envelope) / 6) + 1)], "too-large"],    // written as \u003C
    ];
    for (const [args, code] of table) {
        const refusal = Rules.checkWire(request(args));
        assert.strictEqual(refusal && refusal.code, code, JSON.stringify(args).slice(0, 40));
    }
    assert.ok(/argument 1 is not well-formed/.test(Rules.checkWire(request(["\udc00"])).message));
});

test("messages the content script takes", () => {
    const win = {}, frame = {};
    const origin = "https://www.tavrine.example";
    const request = { tavrine: "page", id: 1, op: "CheckInstall", args: [] };
    assert.ok(Rules.isPageMessage({ source: win, origin, data: request }, win, origin));
    assert.ok(!Rules.isPageMessage({ source: frame, origin, data: request }, win, origin), "a frame of the page");
    assert.ok(!Rules.isPageMessage({ source: win, origin: "https://other.example", data: request }, win, origin));
    assert.ok(!Rules.isPageMessage({ source: win, origin, data: { tavrine: "extension", id: 1 } }, win, origin),
              "its own answers");
    assert.ok(!Rules.isPageMessage({ source: win, origin, data: "text" }, win, origin));
});

test("AllowPopUp's site against the page's host", () => {
    const table = [
        ["www.tavrine.example", true], ["tavrine.example", true], ["https://www.tavrine.example/x", true],
        ["*.tavrine.example", true], ["WWW.Tavrine.Example", true],
        ["example", false], ["other.example", false], ["evil-tavrine.example", false],
        ["ww.tavrine.example", false], ["", false], ["tavrine.example/../other.example", true],
    ];
    for (const [site, allowed] of table)
        assert.strictEqual(Rules.popupSiteAllowed(site, "www.tavrine.example"), allowed, site);
    assert.strictEqual(Rules.originPattern("https://www.tavrine.example"), "https://www.tavrine.example:443/*");
});

// ---------------------------------------------------------------------------
// The background with a fake browser.

// Objects made inside the background's context have that context's prototypes.
const plain = (x) => JSON.parse(JSON.stringify(x));

function event() {
    const fns = [];
    return { addListener: (fn) => fns.push(fn), fire: (...a) => fns.forEach((fn) => fn(...a)) };
}

function loadBackground(withContentSettings) {
    const natives = [], popupSets = [];
    const chrome = {
        runtime: {
            id: "obmdnoebbgjmgcflgkimndgfemiokbbc", lastError: null, onConnect: event(),
            connectNative: (name) => {
                const port = { name, sent: [], closed: false, onMessage: event(), onDisconnect: event() };
                port.postMessage = (m) => port.sent.push(m);
                port.disconnect = () => { port.closed = true; };
                natives.push(port);
                return port;
            },
        },
        tabs: { onRemoved: event() },
    };
    if (withContentSettings)
        chrome.contentSettings = { popups: { set: (details, done) => { popupSets.push(details); done(); } } };
    const context = { chrome, TavrineRules: Rules, TAVRINE_SITES: SITES, URL };
    vm.createContext(context);
    vm.runInContext(fs.readFileSync(path.join(DIR, "background.js"), "utf8"), context);
    return { chrome, natives, popupSets };
}

function pagePort(sender) {
    const port = { name: "tavrine-page", sender, got: [], closed: false, onMessage: event(), onDisconnect: event() };
    port.postMessage = (m) => port.got.push(m);
    port.disconnect = () => { port.closed = true; };
    return port;
}

const TOP = { id: "obmdnoebbgjmgcflgkimndgfemiokbbc", tab: { id: 7 }, frameId: 0, origin: "https://www.tavrine.example" };

test("the background refuses a frame, another origin or another extension, and starts no host", () => {
    const bg = loadBackground(true);
    for (const sender of [
        Object.assign({}, TOP, { frameId: 3 }),
        Object.assign({}, TOP, { origin: "https://other.example" }),
        Object.assign({}, TOP, { origin: undefined, url: "http://www.tavrine.example/" }),
        Object.assign({}, TOP, { id: "another" }),
        Object.assign({}, TOP, { tab: undefined }),
    ]) {
        const port = pagePort(sender);
        bg.chrome.runtime.onConnect.fire(port);
        assert.ok(port.closed, JSON.stringify(sender));
    }
    assert.strictEqual(bg.natives.length, 0);
});

test("one host per tab; each request carries the vouched origin; answers go to the page that asked", () => {
    const bg = loadBackground(true);
    const first = pagePort(TOP);
    bg.chrome.runtime.onConnect.fire(first);
    assert.ok(!first.closed);
    first.onMessage.fire({ id: 1, op: "UpLoadInfo", args: ["1001"] });
    first.onMessage.fire({ id: 2, op: "UpLoadEnd", args: ["u"] });   // malformed: answered here
    // The page reloads: a new port in the same tab uses the same host.
    first.onDisconnect.fire();
    const second = pagePort(Object.assign({}, TOP, { origin: undefined, url: "https://files.tavrine.example/x?y" }));
    bg.chrome.runtime.onConnect.fire(second);
    second.onMessage.fire({ id: 1, op: "CheckInstall", args: [] });
    assert.strictEqual(bg.natives.length, 1);
    const host = bg.natives[0];
    assert.strictEqual(host.name, "com.tavrine.bridge");
    assert.deepStrictEqual(plain(host.sent), [
        { id: 1, op: "UpLoadInfo", args: ["1001"], origin: "https://www.tavrine.example" },
        { id: 2, op: "CheckInstall", args: [], origin: "https://files.tavrine.example" },
    ]);
    assert.deepStrictEqual(plain(first.got), [{ type: "error", id: 2, code: "bad-request", message: "UpLoadEnd takes 2 strings" }]);
    host.onMessage.fire({ type: "hello", version: "1.15.3.9" });
    host.onMessage.fire({ type: "result", id: 1, value: true });           // the page that asked has gone
    host.onMessage.fire({ type: "event", id: 2, name: "InstallCompleteEvent", args: [], extra: "x" });
    host.onMessage.fire({ type: "result", id: 2, value: true });
    host.onMessage.fire({ type: "result", id: 2, value: "again" });        // answered already
    assert.strictEqual(first.got.length, 1);
    assert.deepStrictEqual(plain(second.got), [
        { type: "event", id: 1, name: "InstallCompleteEvent", args: [] },
        { type: "result", id: 1, value: true },
    ]);
    // The host ends while a call is open: the page hears it; the next call starts a new host.
    second.onMessage.fire({ id: 3, op: "ShowUpFileDlg", args: [] });
    host.onDisconnect.fire();
    assert.strictEqual(second.got[2].code, "host");
    second.onMessage.fire({ id: 4, op: "CheckInstall", args: [] });
    assert.strictEqual(bg.natives.length, 2);
    // The tab goes: its host is closed.
    bg.chrome.tabs.onRemoved.fire(7);
    assert.ok(bg.natives[1].closed);
});

test("the background refuses what the host would not take; an error without id settles the oldest call", () => {
    const bg = loadBackground(true);
    const port = pagePort(TOP);
    bg.chrome.runtime.onConnect.fire(port);
    port.onMessage.fire({ id: 1, op: "UpLoadInfo", args: ["x".repeat(1024 * 1024)] });
    port.onMessage.fire({ id: 2, op: "UpLoadEnd", args: ["user", "pw\ud800"] });
    assert.deepStrictEqual(port.got.map((m) => [m.type, m.id, m.code]),
                           [["error", 1, "too-large"], ["error", 2, "bad-arguments"]]);
    assert.strictEqual(bg.natives.length, 0, "nothing reached a host");

    port.onMessage.fire({ id: 3, op: "UpLoadInfo", args: ["a"] });
    port.onMessage.fire({ id: 4, op: "UpLoadInfo", args: ["b"] });
    port.onMessage.fire({ id: 5, op: "UpLoadInfo", args: ["c"] });
    const host = bg.natives[0];
    host.onMessage.fire({ type: "hello", version: "1.15.3.9" });
    host.onMessage.fire({ type: "error", id: null, code: "bad-json", message: "the message is not JSON" });
    host.onMessage.fire({ type: "result", id: 2, value: true });
    host.onMessage.fire({ type: "error", id: null, code: "bad-json", message: "again" });
    host.onMessage.fire({ type: "error", id: null, code: "bad-json", message: "none open" });
    assert.deepStrictEqual(port.got.slice(2).map((m) => [m.type, m.id, m.code || m.value]),
                           [["error", 3, "bad-json"], ["result", 4, true], ["error", 5, "bad-json"]]);
});

test("AllowPopUp: the page's own origin only, and a clear answer where the browser cannot", () => {
    const bg = loadBackground(true);
    const port = pagePort(TOP);
    bg.chrome.runtime.onConnect.fire(port);
    port.onMessage.fire({ id: 1, op: "AllowPopUp", args: ["tavrine.example"] });
    port.onMessage.fire({ id: 2, op: "AllowPopUp", args: ["other.example"] });
    assert.deepStrictEqual(plain(bg.popupSets), [{ primaryPattern: "https://www.tavrine.example:443/*", setting: "allow" }]);
    assert.deepStrictEqual(plain(port.got), [{ type: "result", value: true, id: 1 }, { type: "result", value: false, id: 2 }]);
    assert.strictEqual(bg.natives.length, 0, "AllowPopUp never reaches the host");

    const firefox = loadBackground(false);
    const other = pagePort(TOP);
    firefox.chrome.runtime.onConnect.fire(other);
    other.onMessage.fire({ id: 1, op: "AllowPopUp", args: ["www.tavrine.example"] });
    assert.strictEqual(other.got[0].code, "unsupported");
});

// ---------------------------------------------------------------------------
// The content script with a fake page window and browser.

function loadContent(connect, origin) {
    const listeners = [], posted = [];
    let marker = null;
    const win = {
        location: { origin: origin || "https://www.tavrine.example" },
        addEventListener: (type, fn) => listeners.push(fn),
        postMessage: (data, target) => posted.push({ data: plain(data), target }),
    };
    win.window = win;
    win.top = win;
    const context = {
        window: win, document: { documentElement: { setAttribute: (n, v) => { marker = [n, v]; } } },
        chrome: { runtime: { connect } }, TavrineRules: Rules, TAVRINE_SITES: SITES, TAVRINE_EXTENSION_VERSION: "1.15.3.9",
    };
    vm.createContext(context);
    vm.runInContext(fs.readFileSync(path.join(DIR, "content.js"), "utf8"), context);
    const send = (data, source) => listeners.forEach((fn) => fn({ data, source: source || win, origin: win.location.origin }));
    return { posted, send, marker: () => marker, listening: () => listeners.length > 0 };
}

test("the content script does nothing on a page the site list does not name, though the patterns match it", () => {
    // Each of these is matched by a manifest pattern made from SITES.
    for (const origin of [
        "https://tavrine.example",                  // "*.tavrine.example" matches the bare suffix
        "https://www.tavrine.example:8443",         // patterns carry no port
        "https://a.tavrine.example:444",
        "https://files.example",                    // listed with :8443 only
        "https://files.example:8444",
    ]) {
        let connected = false;
        const page = loadContent(() => { connected = true; return null; }, origin);
        page.send({ tavrine: "page", id: 1, op: "CheckInstall", args: [] });
        assert.deepStrictEqual([page.marker(), page.listening(), connected, page.posted.length], [null, false, false, 0], origin);
    }
    for (const origin of ["https://www.tavrine.example", "https://a.b.tavrine.example", "https://files.example:8443"]) {
        const page = loadContent(() => null, origin);
        assert.deepStrictEqual([page.marker(), page.listening()], [["data-tavrine-bridge", "1.15.3.9"], true], origin);
    }
});

test("the content script: marks the page, forwards its requests only, fails open calls when the port goes", () => {
    let port = null;
    const page = loadContent(() => {
        port = { sent: [], onMessage: event(), onDisconnect: event() };
        port.postMessage = (m) => port.sent.push(plain(m));
        return port;
    });
    assert.deepStrictEqual(page.marker(), ["data-tavrine-bridge", "1.15.3.9"]);
    page.send({ tavrine: "page", id: 1, op: "CheckInstall", args: [] }, {});             // from a frame
    page.send({ tavrine: "extension", type: "result", id: 1, value: true });             // its own answer
    assert.strictEqual(port, null, "nothing connected for them");
    page.send({ tavrine: "page", id: 2, op: "UpLoadInfo", args: ["1001"] });
    page.send({ tavrine: "page", id: 3, op: "UpLoadInfo", args: [] });                  // malformed
    page.send({ tavrine: "page", id: 4, op: "ShowUpFileDlg", args: [] });
    assert.deepStrictEqual(port.sent, [{ id: 2, op: "UpLoadInfo", args: ["1001"] }, { id: 4, op: "ShowUpFileDlg", args: [] }]);
    port.onMessage.fire({ type: "result", id: 2, value: true });
    port.onMessage.fire({ type: "result", id: 9, value: true });                         // never asked
    port.onDisconnect.fire();
    assert.deepStrictEqual(page.posted.map((p) => [p.data.tavrine, p.data.type, p.data.id, p.data.code, p.target]), [
        ["extension", "error", 3, "bad-request", "https://www.tavrine.example"],
        ["extension", "result", 2, undefined, "https://www.tavrine.example"],
        ["extension", "error", 4, "disconnected", "https://www.tavrine.example"],
    ]);
});

// A port to the background that records what the content script sends.
function recordingPort() {
    const port = { sent: [], onMessage: event(), onDisconnect: event() };
    port.postMessage = (m) => port.sent.push(plain(m));
    return port;
}

test("the content script: two requests with the same id both get their answers", () => {
    const port = recordingPort();
    const page = loadContent(() => port);
    for (let i = 0; i < 3; i++)
        page.send({ tavrine: "page", id: 5, op: "CheckInstall", args: [] });
    assert.strictEqual(port.sent.length, 3);
    port.onMessage.fire({ type: "event", id: 5, name: "InstallCompleteEvent", args: [] });
    port.onMessage.fire({ type: "result", id: 5, value: true });
    port.onMessage.fire({ type: "result", id: 5, value: true });
    port.onDisconnect.fire();   // the third is still open
    assert.deepStrictEqual(page.posted.map((p) => [p.data.type, p.data.id, p.data.code]), [
        ["event", 5, undefined], ["result", 5, undefined], ["result", 5, undefined], ["error", 5, "disconnected"],
    ]);
});

test("the content script: a request after the extension's context went away is answered", () => {
    const page = loadContent(() => { throw new Error("Extension context invalidated."); });
    page.send({ tavrine: "page", id: 1, op: "CheckInstall", args: [] });
    assert.deepStrictEqual([page.posted[0].data.type, page.posted[0].data.id, page.posted[0].data.code],
                           ["error", 1, "disconnected"]);
});
