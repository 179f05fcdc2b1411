// The checks the extension makes on what reaches it, shared by the content script
// (the page's messages) and the background (the sender of a page's port, each
// request, the site a page names to AllowPopUp). Pure functions of their inputs;
// web/tests/extension.test.js runs them under Node.

var TavrineRules = (function () {
    // The control's methods and how many strings each takes.
    var METHODS = {
        CheckInstall: 0, AllowPopUp: 1, ShowUpFileDlg: 0, SelectComplete: 3,
        UpLoadInit: 0, UpLoadInfo: 1, UpLoadEnd: 2, DownLoadInit: 0, DownLoadInfo: 2,
        DownLoadEnd: 3, LauncherExplorer: 2, LauncherWebLink: 3, DownLoadSpInit: 0
    };
    var HOST_LABELS = /^[a-z0-9-]+(\.[a-z0-9-]+)*$/;
    // The host takes no message over 1 MiB, and none that is not UTF-8: a lone
    // surrogate has no UTF-8 form.
    var MAX_MESSAGE_BYTES = 1024 * 1024;
    var LONE_SURROGATE = /[\uD800-\uDBFF](?![\uDC00-\uDFFF])|(^|[^\uD800-\uDBFF])[\uDC00-\uDFFF]/;

    // "https://host[:port]" as the browser writes an origin: lower case, no path, no
    // default port. Anything else (another scheme, user information, an odd port) is null.
    function parseOrigin(origin) {
        var m = /^https:\/\/([a-z0-9.-]+)(?::([0-9]{1,5}))?$/.exec(String(origin));
        if (!m || !HOST_LABELS.test(m[1]))
            return null;
        var port = m[2] ? parseInt(m[2], 10) : 443;
        if (port < 1 || port > 65535 || (m[2] && m[2].charAt(0) == "0"))
            return null;
        return { host: m[1], port: port };
    }

    // One entry of the site list: https://host[:port] or https://*.suffix[:port],
    // read the way the control's site lock reads TAVRINE_ALLOWED_SITES.
    function parseSite(text) {
        var m = /^https:\/\/(\*\.)?([a-z0-9.-]+)(?::([1-9][0-9]{0,4}))?\/?$/i.exec(String(text).replace(/^\s+|\s+$/g, ""));
        if (!m || !HOST_LABELS.test(m[2].toLowerCase()))
            return null;
        return { wildcard: !!m[1], host: m[2].toLowerCase(), port: m[3] ? parseInt(m[3], 10) : 443 };
    }

    // Is a page of this origin one the service's sites? "*.suffix" takes hosts below
    // the suffix on a label boundary, never the suffix itself.
    function originAllowed(origin, sites) {
        var o = parseOrigin(origin);
        if (!o)
            return false;
        for (var i = 0; i < sites.length; i++) {
            var s = parseSite(sites[i]);
            if (!s || s.port != o.port)
                continue;
            if (s.wildcard ? o.host.length > s.host.length + 1 &&
                             o.host.slice(-(s.host.length + 1)) == "." + s.host
                           : o.host == s.host)
                return true;
        }
        return false;
    }

    // null when a page's request is well formed, else what is wrong with it.
    function checkRequest(msg) {
        if (!msg || typeof msg != "object")
            return "a request is an object";
        if (typeof msg.id != "number" || msg.id < 1 || msg.id > 9007199254740991 || Math.floor(msg.id) !== msg.id)
            return "id is a positive whole number";
        if (typeof msg.op != "string" || !Object.prototype.hasOwnProperty.call(METHODS, msg.op))
            return "no method " + String(msg.op);
        var args = msg.args;
        if (!Array.isArray(args) || args.length != METHODS[msg.op])
            return msg.op + " takes " + METHODS[msg.op] + " strings";
        for (var i = 0; i < args.length; i++)
            if (typeof args[i] != "string")
                return msg.op + " takes strings only";
        return null;
    }

    // The bytes of a message as the browser hands it to the host: JSON in UTF-8, with
    // room for the escapes some browsers write ("<" and U+2028/U+2029 as \uXXXX).
    function wireBytes(msg) {
        var text = JSON.stringify(msg), bytes = 0;
        for (var i = 0; i < text.length; i++) {
            var c = text.charCodeAt(i);
            if (c < 0x80)
                bytes += c == 0x3C ? 6 : 1;
            else if (c < 0x800)
                bytes += 2;
            else if (c >= 0xD800 && c <= 0xDFFF)
                bytes += 2;   // each half of a pair: four bytes for the two
            else
                bytes += c == 0x2028 || c == 0x2029 ? 6 : 3;
        }
        return bytes;
    }

    // null when the host would take the request (checkRequest passed) as it goes
    // out, else { code, message } for the page: the host's answer to it would
    // reach no one.
    function checkWire(msg) {
        for (var i = 0; i < msg.args.length; i++)
            if (LONE_SURROGATE.test(msg.args[i]))
                return { code: "bad-arguments",
                         message: msg.op + ": argument " + (i + 1) + " is not well-formed text (a lone surrogate)" };
        if (wireBytes(msg) > MAX_MESSAGE_BYTES)
            return { code: "too-large", message: msg.op + ": the request is larger than 1 MiB" };
        return null;
    }

    // A message on the page's window that the content script may take: posted by the
    // page itself (not by one of its frames), in this origin, towards the extension.
    function isPageMessage(event, win, origin) {
        return !!event && event.source === win && event.origin === origin && !!event.data &&
               typeof event.data == "object" && event.data.tavrine === "page";
    }

    // AllowPopUp(site) of a page on pageHost: the site must name the page's own host or
    // a domain above it ("tavrine.example" for www.tavrine.example), as the page would
    // name itself to the control. A bare top-level name never qualifies.
    function popupSiteAllowed(site, pageHost) {
        var name = String(site).replace(/^\s+|\s+$/g, "").toLowerCase();
        name = name.replace(/^https?:\/\//, "").replace(/[\/?#].*$/, "").replace(/:[0-9]+$/, "").replace(/^\*\./, "");
        if (!name || !HOST_LABELS.test(name) || name.indexOf(".") < 0)
            return false;
        return pageHost == name || pageHost.slice(-(name.length + 1)) == "." + name;
    }

    // The content-settings pattern of exactly one origin (its port included).
    function originPattern(origin) {
        var o = parseOrigin(origin);
        return o ? "https://" + o.host + ":" + o.port + "/*" : null;
    }

    return {
        METHODS: METHODS,
        parseOrigin: parseOrigin,
        parseSite: parseSite,
        originAllowed: originAllowed,
        checkRequest: checkRequest,
        checkWire: checkWire,
        wireBytes: wireBytes,
        isPageMessage: isPageMessage,
        popupSiteAllowed: popupSiteAllowed,
        originPattern: originPattern
    };
})();

if (typeof module != "undefined" && module.exports)
    module.exports = TavrineRules;
