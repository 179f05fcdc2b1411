// Background of the extension: the service worker in Chrome and Edge, a background
// script in Firefox. A page's content script connects one port per page; the
// background checks who is on the other end (this extension's content script, the
// top frame of a tab, an https origin of the service) and hands each request to
// that tab's native host, TavrineBridge.exe, with the origin it vouches for. One
// host process per tab, started at the tab's first request and ended with the tab.
// AllowPopUp is answered here, for the page's own origin only.

if (typeof importScripts == "function" && typeof TavrineRules == "undefined")
    importScripts("sites.js", "rules.js");

var HOST_NAME = "com.tavrine.bridge";
var tabs = {};   // tab id -> { native, nextId, pending: { wire id -> { port, id } } }

function senderOrigin(sender) {
    if (sender.origin)
        return sender.origin;
    try {
        return new URL(sender.url).origin;
    } catch (e) {
        return "";
    }
}

function post(port, msg) {
    if (!port)
        return;
    try {
        port.postMessage(msg);
    } catch (e) {
        // The page went away while its call ran; the answer has no one to go to.
    }
}

function closeTab(tabId) {
    var tab = tabs[tabId];
    if (!tab)
        return;
    delete tabs[tabId];
    try {
        tab.native.disconnect();
    } catch (e) {
        // Already gone.
    }
}

// The host's messages: routed by their wire id to the page that asked.
function onHostMessage(tab, msg) {
    if (!msg || typeof msg != "object" || typeof msg.type != "string")
        return;
    if (msg.type === "hello") {
        tab.version = String(msg.version);
        return;
    }
    var wire = msg.id;
    // An error the host could not attribute (it found no id it could read) is
    // the answer to the oldest request open: the host serves them in order. A
    // busy answer comes at once, out of that order, and never without an id
    // for what this background sends.
    if (msg.type === "error" && msg.id === null && msg.code !== "busy")
        wire = oldestPending(tab);
    var entry = tab.pending[wire];
    if (!entry)
        return;
    var out = { type: msg.type, id: entry.id };
    var fields = ["name", "args", "state", "value", "code", "message"];
    for (var i = 0; i < fields.length; i++)
        if (msg[fields[i]] !== undefined)
            out[fields[i]] = msg[fields[i]];
    if (msg.type === "result" || msg.type === "error")
        delete tab.pending[wire];
    post(entry.port, out);
}

function oldestPending(tab) {
    var oldest = null;
    for (var wire in tab.pending)
        if (oldest === null || Number(wire) < oldest)
            oldest = Number(wire);
    return oldest;
}

function openTab(tabId) {
    if (tabs[tabId])
        return tabs[tabId];
    var tab = { native: chrome.runtime.connectNative(HOST_NAME), nextId: 1, pending: {}, version: null };
    tabs[tabId] = tab;
    tab.native.onMessage.addListener(function (msg) { onHostMessage(tab, msg); });
    // Not installed, refused, crashed or ended: every open call of the tab fails,
    // and the next request starts a new host.
    tab.native.onDisconnect.addListener(function () {
        var why = chrome.runtime.lastError && chrome.runtime.lastError.message;
        if (tabs[tabId] === tab)
            delete tabs[tabId];
        for (var wire in tab.pending)
            post(tab.pending[wire].port, {
                type: "error", id: tab.pending[wire].id, code: "host",
                message: "Tavrine 연결 프로그램이 응답하지 않습니다" + (why ? " (" + why + ")" : "")
            });
        tab.pending = {};
    });
    return tab;
}

function allowPopUp(origin, site, reply) {
    var page = TavrineRules.parseOrigin(origin);
    if (!page || !TavrineRules.popupSiteAllowed(site, page.host)) {
        reply({ type: "result", value: false });
        return;
    }
    if (!chrome.contentSettings || !chrome.contentSettings.popups) {
        reply({ type: "error", code: "unsupported",
                message: "이 브라우저는 확장 프로그램이 팝업을 허용하게 하지 않습니다" });
        return;
    }
    chrome.contentSettings.popups.set({ primaryPattern: TavrineRules.originPattern(origin), setting: "allow" },
        function () {
            var error = chrome.runtime.lastError;
            reply(error ? { type: "error", code: "browser", message: String(error.message) }
                        : { type: "result", value: true });
        });
}

function onPageRequest(tabId, port, origin, msg) {
    var problem = TavrineRules.checkRequest(msg);
    if (problem) {
        if (msg && typeof msg.id == "number")
            post(port, { type: "error", id: msg.id, code: "bad-request", message: problem });
        return;
    }
    if (msg.op === "AllowPopUp") {
        allowPopUp(origin, msg.args[0], function (reply) {
            reply.id = msg.id;
            post(port, reply);
        });
        return;
    }
    // The host's answer to what it cannot take would have no id to go back by.
    var request = { id: 9007199254740991, op: msg.op, args: msg.args, origin: origin };
    var refusal = TavrineRules.checkWire(request);
    if (refusal) {
        post(port, { type: "error", id: msg.id, code: refusal.code, message: refusal.message });
        return;
    }
    var tab = openTab(tabId);
    var wire = tab.nextId++;
    request.id = wire;
    tab.pending[wire] = { port: port, id: msg.id };
    tab.native.postMessage(request);
}

function onPageConnect(port) {
    var sender = port.sender;
    var origin = sender ? senderOrigin(sender) : "";
    if (port.name !== "tavrine-page" || !sender || sender.id !== chrome.runtime.id || !sender.tab ||
        typeof sender.tab.id != "number" || sender.frameId !== 0 ||
        !TavrineRules.originAllowed(origin, TAVRINE_SITES)) {
        port.disconnect();
        return;
    }
    var tabId = sender.tab.id;
    port.onMessage.addListener(function (msg) { onPageRequest(tabId, port, origin, msg); });
    // A page that goes (navigation, reload) hears nothing more; the tab's host stays.
    port.onDisconnect.addListener(function () {
        var tab = tabs[tabId];
        if (!tab)
            return;
        for (var wire in tab.pending)
            if (tab.pending[wire].port === port)
                tab.pending[wire].port = null;
    });
}

chrome.runtime.onConnect.addListener(onPageConnect);
chrome.tabs.onRemoved.addListener(closeTab);
