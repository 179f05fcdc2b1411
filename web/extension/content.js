// Content script, in the isolated world of the top frame of the service's https
// pages only. It marks the page so that tavrine.js knows the extension is there,
// takes the page's requests from window.postMessage and hands them to the
// background over one port; what comes back goes to the page the same way.
// Messages from frames of the page, from other origins or in the wrong direction
// are not taken.

(function () {
    if (window.top !== window)
        return;
    var origin = window.location.origin;
    // The manifest's match patterns are wider than the site list: "*.suffix" also
    // matches the bare suffix, and a pattern has no port. A page the list does not
    // name sees no trace of the extension, so that it gets "unavailable".
    if (!TavrineRules.originAllowed(origin, TAVRINE_SITES))
        return;
    var port = null;
    var pending = {};   // the ids of the page's requests not yet answered -> how many of each

    document.documentElement.setAttribute("data-tavrine-bridge", TAVRINE_EXTENSION_VERSION);

    // Only the fields the page needs, in a fresh object.
    function toPage(msg) {
        var out = { tavrine: "extension", type: String(msg.type), id: msg.id };
        var fields = ["name", "args", "state", "value", "code", "message"];
        for (var i = 0; i < fields.length; i++)
            if (msg[fields[i]] !== undefined)
                out[fields[i]] = msg[fields[i]];
        window.postMessage(out, origin);
    }

    function connect() {
        port = chrome.runtime.connect({ name: "tavrine-page" });
        port.onMessage.addListener(function (msg) {
            if (!msg || typeof msg != "object" || !pending[msg.id])
                return;
            // A page may reuse an id: each of its requests is answered.
            if ((msg.type === "result" || msg.type === "error") && --pending[msg.id] <= 0)
                delete pending[msg.id];
            toPage(msg);
        });
        // The background refused this page, or went away: every open call fails.
        port.onDisconnect.addListener(function () {
            port = null;
            var ids = pending;
            pending = {};
            for (var id in ids)
                for (var n = 0; n < ids[id]; n++)
                    toPage({ type: "error", id: Number(id), code: "disconnected",
                             message: "Tavrine 확장 프로그램과의 연결이 끊겼습니다" });
        });
    }

    window.addEventListener("message", function (event) {
        if (!TavrineRules.isPageMessage(event, window, origin))
            return;
        var msg = event.data;
        var problem = TavrineRules.checkRequest(msg);
        if (problem) {
            if (typeof msg.id == "number")
                toPage({ type: "error", id: msg.id, code: "bad-request", message: problem });
            return;
        }
        try {
            if (!port)
                connect();
            port.postMessage({ id: msg.id, op: msg.op, args: msg.args.slice() });
            pending[msg.id] = (pending[msg.id] || 0) + 1;
        } catch (e) {
            // The extension was updated or removed under this page: its context is gone.
            port = null;
            toPage({ type: "error", id: msg.id, code: "disconnected",
                     message: "Tavrine 확장 프로그램과의 연결이 끊겼습니다. 페이지를 새로 고치십시오" });
        }
    }, false);
})();
