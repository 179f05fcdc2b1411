// The sample page's road in a real browser, headless: Debian's Chromium (driven by
// playwright-core, with the extension's Chrome build) or Debian's Firefox ESR (driven
// by puppeteer-core over WebDriver BiDi, with the Firefox build as a temporary
// add-on), the native host TavrineBridge.exe under Wine, and the page served over
// https as https://www.tavrine.example/ with a certificate made for this run.
// Started by web/tests/browser-road.sh, which prepares the Wine prefix, the update
// server, the picked folder, the host's start script and the picker driver.
//
//   node browser-road.js check|demo [chromium|firefox]
//
// demo: prints what the page receives, as tools/demo.sh does, and the browser's
// pop-up allowance. check: the same road, then what must hold: the events, the
// dialogs the page was told of, the pop-up allowance (in Firefox, which has none for
// extensions: the page's guide to allowing them), pages the site list does not name
// that get nothing, a request forged by a frame of the page that is refused, and what
// reached the update server and the companion programs; in Firefox, then, a second
// start in which a policy force-installs the .xpi. Exit code 0 when all held.
//
// Environment: TAVRINE_ROAD_DIR (the run's folder), TAVRINE_EXTENSION_DIR (the build
// for the browser), TAVRINE_HOST_SCRIPT (starts the host), TAVRINE_SOURCE_DIR,
// BROWSER_BINARY; for Firefox's policy install TAVRINE_XPI (the .xpi), TAVRINE_XPI_ID
// (the ID in its manifest) and TAVRINE_PRIVATE_ETC=1 (this process's /etc is a private
// overlay, browser-road.sh's mount namespace).
"use strict";

const fs = require("fs");
const path = require("path");
const https = require("https");
const crypto = require("crypto");
const net = require("net");
const { execFileSync } = require("child_process");

const mode = process.argv[2];
const browserName = process.argv[3] || "chromium";
// Required as a module (web/tests/managed-install.js), it only lends its helpers.
if (require.main === module &&
    ((mode !== "check" && mode !== "demo") || (browserName !== "chromium" && browserName !== "firefox"))) {
    console.error("usage: node browser-road.js check|demo [chromium|firefox]");
    process.exit(2);
}
const firefox = browserName === "firefox";
const source = process.env.TAVRINE_SOURCE_DIR;
const dir = process.env.TAVRINE_ROAD_DIR;
const extension = process.env.TAVRINE_EXTENSION_DIR;
const hostScript = process.env.TAVRINE_HOST_SCRIPT;
const browserPath = process.env.BROWSER_BINARY;
const modules = path.join(source, "web", "node_modules");

// The build's extension ID, as Chrome derives it from the manifest's key: the first 16
// bytes of the key's SHA-256, each half-byte a letter a-p.
function extensionId(dir) {
    const key = JSON.parse(fs.readFileSync(path.join(dir, "manifest.json"), "utf8")).key;
    const hex = crypto.createHash("sha256").update(Buffer.from(key, "base64")).digest("hex").slice(0, 32);
    return [...hex].map((c) => String.fromCharCode(97 + parseInt(c, 16))).join("");
}
const EXTENSION_ID = extension && !firefox ? extensionId(extension) : null;
// The Firefox build's add-on ID, as its manifest names it.
const GECKO_ID = extension && firefox
    ? JSON.parse(fs.readFileSync(path.join(extension, "manifest.json"), "utf8")).browser_specific_settings.gecko.id
    : null;
const SITE = "www.tavrine.example";
const FOREIGN = "other.example";
// Origins that the manifest's match patterns take but the site list does not name:
// the bare suffix of "*.tavrine.example", and a listed host on another port.
const UNLISTED = ["tavrine.example", "www.tavrine.example:8443"];
// Every host:port the browser reaches, all served by this run's https server.
const SERVED = [SITE + ":443", FOREIGN + ":443", "tavrine.example:443", "www.tavrine.example:8443"];

let checks = 0, failures = 0;
function check(condition, what) {
    checks++;
    if (!condition) {
        failures++;
        console.log("FAIL: " + what);
    }
    return condition;
}

// A certificate authority and a server certificate for this run only (the keys never
// leave the run's folder). Chromium trusts the server's by the hash of its public key;
// Firefox, which takes no CA certificate as a server's, gets the authority in the
// run's own profile. Neither changes the machine's trust store.
function makeCertificate(folder = dir) {
    const file = (name) => path.join(folder, name);
    const openssl = (args) => execFileSync("openssl", args, { stdio: "ignore" });
    const ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"];
    openssl(["req", "-x509", ...ec, "-keyout", file("tls-ca-key.pem"), "-out", file("tls-ca.pem"), "-days", "1",
             "-subj", "/CN=Tavrine test run CA"]);
    openssl(["req", ...ec, "-keyout", file("tls-key.pem"), "-out", file("tls-req.pem"), "-subj", "/CN=" + SITE]);
    const names = [...new Set(SERVED.map((s) => s.split(":")[0]))];
    fs.writeFileSync(file("tls-ext.cnf"), "subjectAltName=" + names.map((n) => "DNS:" + n).join(",") + "\n");
    openssl(["x509", "-req", "-in", file("tls-req.pem"), "-CA", file("tls-ca.pem"), "-CAkey", file("tls-ca-key.pem"),
             "-CAcreateserial", "-out", file("tls-cert.pem"), "-days", "1", "-extfile", file("tls-ext.cnf")]);
    const pem = fs.readFileSync(file("tls-cert.pem"));
    const spki = new crypto.X509Certificate(pem).publicKey.export({ type: "spki", format: "der" });
    return { key: fs.readFileSync(file("tls-key.pem")), cert: pem, caFile: file("tls-ca.pem"),
             spki: crypto.createHash("sha256").update(spki).digest("base64") };
}

// Firefox has no host-resolver rules: it reaches the service's names through this
// proxy, which tunnels CONNECT for the served names only to the local https server,
// so that the page really is https://www.tavrine.example/. Anything else (the
// browser's own background requests) is refused.
function proxy(port) {
    const server = net.createServer((client) => {
        client.on("error", () => client.destroy());
        client.once("data", (head) => {
            const m = /^CONNECT ([a-z0-9.-]+:[0-9]+) HTTP\/1\.[01]\r\n/i.exec(head.toString("latin1"));
            if (!m || !SERVED.includes(m[1].toLowerCase())) {
                client.end("HTTP/1.1 403 Forbidden\r\n\r\n");
                return;
            }
            const upstream = net.connect(port, "127.0.0.1", () => {
                client.write("HTTP/1.1 200 Connection Established\r\n\r\n");
                client.pipe(upstream);
                upstream.pipe(client);
            });
            upstream.on("error", () => client.destroy());
        });
    });
    return new Promise((resolve) => server.listen(0, "127.0.0.1", () => resolve(server)));
}

// The page a site serves for the road: the sample page's scripts and a log.
const ROAD_PAGE = `<!DOCTYPE html>
<html lang="ko"><head><meta charset="utf-8"><title>Tavrine</title>
<script src="tavrine.js"></script><script src="page.js"></script></head>
<body><pre id="log"></pre></body></html>`;
// A frame of the page that speaks for the page: the content script must not take it.
const FORGE_PAGE = `<!DOCTYPE html><html><head><meta charset="utf-8"></head><body><script>
parent.postMessage({ tavrine: "page", id: 424242, op: "LauncherWebLink",
                     args: ["demo", "tavrine123", "https://tavrine.example/s/forged"] }, "*");
</script></body></html>`;

function serve(tls) {
    const files = {
        "/tavrine.js": path.join(source, "web", "tavrine.js"),
        "/page.js": path.join(source, "examples", "page.js"),
        "/demo.js": path.join(source, "examples", "demo.js"),
        "/upload.html": path.join(source, "examples", "upload.html"),
    };
    const server = https.createServer({ key: tls.key, cert: tls.cert }, (req, res) => {
        const url = req.url.split("?")[0];
        let body = null, type = "text/html; charset=utf-8";
        if (url === "/road.html")
            body = ROAD_PAGE;
        else if (url === "/forge.html")
            body = FORGE_PAGE;
        else if (files[url]) {
            body = fs.readFileSync(files[url]);
            if (url.endsWith(".js"))
                type = "text/javascript; charset=utf-8";
        }
        res.writeHead(body === null ? 404 : 200, { "Content-Type": type, "Cache-Control": "no-store" });
        res.end(body === null ? "not here" : body);
    });
    return new Promise((resolve) => server.listen(0, "127.0.0.1", () => resolve(server)));
}

// The host's manifest for the browser, in the folder where it looks for user-level
// hosts; callers: allowed_origins (Chromium) or allowed_extensions (Firefox).
function writeHostManifest(folder, callers) {
    fs.mkdirSync(folder, { recursive: true });
    fs.writeFileSync(path.join(folder, "com.tavrine.bridge.json"), JSON.stringify(Object.assign({
        name: "com.tavrine.bridge",
        description: "Tavrine bridge (test run)",
        path: hostScript,
        type: "stdio",
    }, callers), null, 2));
}

// The browsers, each behind the same few calls: newPage(), waitFor(page, fn, arg, ms),
// popupSetting(url) (null where the browser has no such setting for extensions), close().
const browsers = {
    async chromium(tls, port) {
        const { chromium } = require(path.join(modules, "playwright-core"));
        const profile = path.join(dir, "profile");
        fs.rmSync(profile, { recursive: true, force: true });
        writeHostManifest(path.join(profile, "NativeMessagingHosts"),
                          { allowed_origins: ["chrome-extension://" + EXTENSION_ID + "/"] });
        const args = [
            "--disable-extensions-except=" + extension, "--load-extension=" + extension,
            "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
            "--disable-component-update", "--disable-sync",
            "--host-resolver-rules=" + SERVED.map((s) => `MAP ${s} 127.0.0.1:${port}`).join(","),
            "--ignore-certificate-errors-spki-list=" + tls.spki,
        ];
        if (process.getuid && process.getuid() === 0)
            args.push("--no-sandbox");
        const context = await chromium.launchPersistentContext(profile, {
            executablePath: browserPath, headless: true, ignoreDefaultArgs: ["--disable-extensions"], args,
        });
        let worker = context.serviceWorkers().find((w) => w.url().includes(EXTENSION_ID));
        if (!worker)
            worker = await context.waitForEvent("serviceworker", { timeout: 30000 });
        if (mode === "check")
            check(worker.url().startsWith("chrome-extension://" + EXTENSION_ID + "/"),
                  "the extension runs with its fixed ID, got " + worker.url());
        return {
            newPage: () => context.newPage(),
            waitFor: (page, fn, arg, ms) => page.waitForFunction(fn, arg, { timeout: ms, polling: 200 }),
            popupSetting: (url) => worker.evaluate((u) => new Promise((resolve) =>
                chrome.contentSettings.popups.get({ primaryUrl: u }, (d) => resolve(d.setting))), url),
            close: () => context.close(),
        };
    },

    // addon: "temporary" (the build folder, as a developer loads it) or "policy" (no
    // add-on given here: the policy of the private /etc force-installs the .xpi).
    async firefox(tls, port, addon) {
        const puppeteer = require(path.join(modules, "puppeteer-core"));
        const tunnel = await proxy(port);
        // A private HOME: Firefox looks for user-level hosts in ~/.mozilla/native-messaging-hosts.
        const home = path.join(dir, "home");
        writeHostManifest(path.join(home, ".mozilla", "native-messaging-hosts"), { allowed_extensions: [GECKO_ID] });
        const profile = path.join(dir, addon === "policy" ? "profile-policy" : "profile");
        fs.rmSync(profile, { recursive: true, force: true });
        fs.mkdirSync(profile, { recursive: true });
        execFileSync("certutil", ["-N", "-d", "sql:" + profile, "--empty-password"]);
        execFileSync("certutil", ["-A", "-n", "Tavrine test run CA", "-t", "C,,", "-i", tls.caFile, "-d", "sql:" + profile]);
        const prefs = {
            "network.proxy.type": 1, "network.proxy.ssl": "127.0.0.1", "network.proxy.ssl_port": tunnel.address().port,
            "network.proxy.no_proxies_on": "", "network.dns.disablePrefetch": true,
            "browser.safebrowsing.malware.enabled": false, "browser.safebrowsing.phishing.enabled": false,
            "app.update.enabled": false, "extensions.update.enabled": false,
        };
        // ESR honours this, release builds do not: the .xpi is not signed by Mozilla.
        if (addon === "policy")
            prefs["xpinstall.signatures.required"] = false;
        const browser = await puppeteer.launch({
            browser: "firefox", executablePath: browserPath, headless: true, userDataDir: profile,
            env: Object.assign({}, process.env, { HOME: home }), extraPrefsFirefox: prefs,
            timeout: 90000,   // its first start on a loaded machine
        });
        if (addon === "temporary") {
            const id = await browser.installExtension(extension);
            if (mode === "check")
                check(id === GECKO_ID, "the add-on runs with its gecko ID, got " + id);
        }
        return {
            newPage: () => browser.newPage(),
            waitFor: (page, fn, arg, ms) => page.waitForFunction(fn, { timeout: ms, polling: 200 }, arg),
            popupSetting: null,
            close: async () => {
                await browser.close();
                tunnel.close();
            },
        };
    },
};

// Every message the page's window receives from the extension, kept in the page, and
// when the page's first request went out and was answered (the first call starts the
// tab's host).
function recordMessages() {
    window.tavrineSeen = [];
    window.tavrineFirst = null;
    window.addEventListener("message", (e) => {
        const d = e.data;
        if (!d)
            return;
        if (d.tavrine === "page" && !window.tavrineFirst)
            window.tavrineFirst = { id: d.id, sent: performance.now(), answered: null };
        if (d.tavrine !== "extension")
            return;
        window.tavrineSeen.push(d);
        const first = window.tavrineFirst;
        if (first && first.id === d.id && first.answered === null && (d.type === "result" || d.type === "error"))
            first.answered = performance.now();
    });
}

// How many times the browser started the host (the host's start script counts them).
function hostStarts() {
    try {
        return fs.readFileSync(path.join(dir, "host-starts.log"), "utf8").split("\n").filter(Boolean).length;
    } catch (e) {
        return 0;
    }
}

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

// The page's guide to allowing pop-ups by hand (examples/page.js, popUpHelp()).
const POPUP_HELP = "이 브라우저에서는 확장 프로그램이 팝업을 허용할 수 없습니다";

function decodeLog(file) {
    try {
        return new TextDecoder("euc-kr").decode(fs.readFileSync(file)).replace(/\r/g, "");
    } catch (e) {
        return "";
    }
}

// Waits (bounded) until a file has a line holding every piece.
async function waitForLine(file, pieces, ms) {
    const end = Date.now() + ms;
    for (;;) {
        const lines = decodeLog(file).split("\n");
        if (lines.some((l) => pieces.every((p) => l.includes(p))))
            return true;
        if (Date.now() > end)
            return false;
        await new Promise((r) => setTimeout(r, 100));
    }
}

// Pages of origins the site list does not name, though the manifest's patterns (or
// none of them) take them, each in a tab of its own, side by side: no marker, no
// content script listening, no host started, and tavrine.js reports "unavailable"
// with the install page.
async function checkUnlisted(session, origins) {
    const starts = hostStarts();
    await Promise.all(origins.map(async (origin) => {
        const page = await session.newPage();
        await page.goto(`https://${origin}/road.html`);
        const seen = await page.evaluate(() => new Promise((resolve) => {
            const answers = [];
            window.addEventListener("message", (e) => {
                if (e.data && e.data.tavrine === "extension")
                    answers.push(e.data);
            });
            // A request posted by hand, as tavrine.js would post it: nobody may take it.
            window.postMessage({ tavrine: "page", id: 777, op: "CheckInstall", args: [] }, location.origin);
            Tavrine.CheckInstall((e) => setTimeout(() => resolve({
                origin: location.origin, mode: Tavrine.mode(), code: e && e.code, message: e && e.message, answers,
                marker: document.documentElement.getAttribute("data-tavrine-bridge") }), 1500));
        }));
        check(seen.origin === "https://" + origin.replace(/:443$/, "") && seen.mode === "none" &&
              seen.code === "unavailable" && seen.marker === null && seen.answers.length === 0,
              `a page of ${origin} gets nothing: ` + JSON.stringify(seen));
        check(String(seen.message).includes("https://www.tavrine.example/install/"),
              `... and ${origin} is pointed to the install page`);
        await page.close();
    }));
    await sleep(500);
    check(hostStarts() === starts, "... and no host started for " + origins.join(", "));
}

// Firefox's managed install: a second start with a fresh profile and no add-on, in
// which the ExtensionSettings policy in the private /etc force-installs the unsigned
// .xpi (signature checks off in this profile only). The extension must then be on the
// service's page and reach the host, which serves only the IDs it was built with.
async function checkPolicyInstall(tls, port) {
    const xpi = process.env.TAVRINE_XPI;
    check(process.env.TAVRINE_XPI_ID === GECKO_ID,
          `the .xpi carries the gecko ID ${GECKO_ID}, got ${process.env.TAVRINE_XPI_ID}`);
    // Never the machine's own /etc: only inside browser-road.sh's mount namespace,
    // where /etc is an overlay of the run's.
    const overlaid = fs.readFileSync("/proc/self/mountinfo", "utf8").split("\n")
        .some((l) => l.split(" ")[4] === "/etc" && / - overlay /.test(l));
    if (!check(process.env.TAVRINE_PRIVATE_ETC === "1" && overlaid, "/etc is a private overlay for the policy"))
        return;
    fs.mkdirSync("/etc/firefox/policies", { recursive: true });
    fs.writeFileSync("/etc/firefox/policies/policies.json", JSON.stringify({ policies: { ExtensionSettings: {
        [GECKO_ID]: { installation_mode: "force_installed", install_url: "file://" + xpi },
    } } }, null, 2));
    const started = Date.now();
    const session = await browsers.firefox(tls, port, "policy");
    try {
        const page = await session.newPage();
        // The policy's add-on comes up shortly after the browser: load the page until
        // its content script has marked it (bounded).
        let marker = null;
        for (let i = 0; i < 60 && !marker; i++) {
            await page.goto(`https://${SITE}/road.html`);
            marker = await page.evaluate(() => document.documentElement.getAttribute("data-tavrine-bridge"));
            if (!marker)
                await sleep(250);
        }
        check(marker !== null, "the policy installed the .xpi: its content script marked the service's page");
        const answer = await page.evaluate(() => new Promise((resolve) =>
            checkControl((answered, e) => resolve({ answered, code: e && e.code, message: e && e.message }))));
        check(answer.answered === true, "... and the host answered it (CheckInstall and its event): " + JSON.stringify(answer));
        console.log(`managed: installed by policy and answered in ${((Date.now() - started) / 1000).toFixed(1)} s`);
    } finally {
        await session.close();
    }
}

async function main() {
    const started = Date.now();
    const tls = makeCertificate();
    const server = await serve(tls);
    const port = server.address().port;
    const session = await browsers[browserName](tls, port, "temporary");
    let rc = 1, closed = false;
    try {
        const page = await session.newPage();
        const lines = [];
        page.on("console", (msg) => {
            if (msg.type() !== "log")
                return;
            lines.push(msg.text());
            if (mode === "demo")
                console.log(msg.text());
        });
        page.on("pageerror", (e) => console.log("page error: " + e.message));
        await page.goto(`https://${SITE}/road.html`);
        await page.evaluate(recordMessages);
        if (mode === "check")
            check(await page.evaluate(() => location.origin + " " + Tavrine.mode()) === `https://${SITE} extension`,
                  "tavrine.js found the extension on https://" + SITE);

        // The road itself: examples/demo.js, as in the page host.
        const roadStart = Date.now();
        await page.addScriptTag({ url: "/demo.js" });
        await session.waitFor(page, () => window.page.finished !== null, null, 150000);
        const finished = await page.evaluate(() => window.page.finished);
        const roadMs = Date.now() - roadStart;
        const first = await page.evaluate(() => window.tavrineFirst);

        const popup = session.popupSetting;
        const ownPopups = popup ? await popup(`https://${SITE}/`) : null;
        const foreignPopups = popup ? await popup(`https://${FOREIGN}/`) : null;
        if (mode === "demo") {
            console.log("");
            if (popup) {
                console.log("== The browser's pop-up allowance (Chromium's content settings)");
                console.log(`  https://${SITE}/: ${ownPopups}`);
                console.log(`  https://${FOREIGN}/: ${foreignPopups}`);
            } else {
                console.log("== The browser's pop-up allowance");
                console.log("  Firefox lets no extension change it: the page showed the user how (above)");
            }
            rc = finished === 0 ? 0 : 1;
            return;
        }

        check(finished === 0, "the road ended with 0, got " + finished);
        const log = lines.join("\n");
        for (const piece of [
            "<- InstallCompleteEvent",
            "<- UpSelectComplete: T:\\자료\\사진 [폴더, 직접 선택]",
            "<- UpSelectComplete: T:\\자료\\사진\\여행\\a.jpg [1000 바이트, T:\\자료\\사진 아래]",
            "<- UpSelectComplete: T:\\자료\\사진\\b.jpg [2048 바이트, T:\\자료\\사진 아래]",
            "<- UpSelectComplete: T:\\자료\\메모.txt [",
            "(파일 선택 창이 열렸습니다)", "(파일 선택 창이 닫혔습니다)",
            "(설치 창이 열렸습니다)", "(설치 창이 닫혔습니다)",
            "업로드 작업을 넘겼습니다", "다운로드 작업을 넘겼습니다", "링크를 전달했습니다 (\"1\")",
        ])
            check(log.includes(piece), "the page's log holds " + piece);
        // Events before the call's answer: every item arrived before the picker's call ended.
        const lastItem = lines.map((l) => l.includes("<- UpSelectComplete")).lastIndexOf(true);
        const pickEnd = lines.findIndex((l) => l.includes("선택 창이 닫혔습니다: 받은 항목"));
        check(lastItem >= 0 && pickEnd > lastItem, "the picked items came before ShowUpFileDlg's answer");

        // Pop-ups: Chromium allows the page's own origin; Firefox cannot, and the page
        // tells the user how to allow them.
        if (popup) {
            check(ownPopups === "allow", "pop-ups allowed for the page's own origin, got " + ownPopups);
            check(foreignPopups !== "allow", "pop-ups not allowed for another origin");
            check(!log.includes(POPUP_HELP), "no guide to allowing pop-ups where the extension allowed them");
        } else {
            const code = await page.evaluate(() => new Promise((resolve) =>
                Tavrine.AllowPopUp("tavrine.example", (e) => resolve(e && e.code))));
            check(code === "unsupported", "AllowPopUp answers unsupported, got " + code);
            check(log.includes(POPUP_HELP) && log.includes(`https://${SITE} 을 적고`),
                  "the page's log shows how to allow pop-ups for https://" + SITE);
        }

        // AllowPopUp naming another host is declined and allows nothing.
        const other = await page.evaluate(() => new Promise((resolve) =>
            Tavrine.AllowPopUp("other.example", (e, v) => resolve(v))));
        check(other === false, "AllowPopUp of another host answers false, got " + other);
        if (popup)
            check(await popup(`https://${FOREIGN}/`) !== "allow", "... and allows nothing for it");

        // A frame of the page forges a request: refused. The page's own call after it
        // is answered through the same content script and host in order, so an answer
        // to the forged one would have come first.
        await page.evaluate(() => new Promise((resolve) => {
            const frame = document.createElement("iframe");
            frame.onload = resolve;
            frame.src = "/forge.html";
            document.body.appendChild(frame);
        }));
        const after = await page.evaluate(() => new Promise((resolve) =>
            Tavrine.CheckInstall((e) => resolve(e ? e.code : "ok"))));
        check(after === "ok", "the page's own call after the forged one is answered, got " + after);
        const forged = await page.evaluate(() => window.tavrineSeen.filter((m) => m.id === 424242).length);
        check(forged === 0, "no answer to the request forged by a frame, got " + forged);

        // One call's round trip, page to host to page, once the host runs. The page's
        // handler logs each event; that is part of the page's side of the trip.
        const times = await page.evaluate(async () => {
            const out = [];
            for (let i = 0; i < 100; i++) {
                const t0 = performance.now();
                await Tavrine.SelectComplete("T:\\왕복", "1", "-1");
                out.push(performance.now() - t0);
            }
            return out.sort((a, b) => a - b);
        });
        if (check(first && first.answered !== null, "the first call was answered"))
            console.log(`first call (${browserName}, the host's start under Wine included): ` +
                        `${(first.answered - first.sent).toFixed(0)} ms`);
        console.log(`round trip page -> host -> page (${browserName}, SelectComplete with its event, 100 calls): ` +
                    `median ${times[50].toFixed(1)} ms, 99th percentile ${times[98].toFixed(1)} ms`);

        // The sample page itself, in a second tab (a second host): on load it allows its
        // pop-ups and checks the control, as in IE mode. Where the browser cannot allow
        // pop-ups, its guide box must show.
        const sample = await session.newPage();
        await sample.goto(`https://${SITE}/upload.html`);
        const status = await session.waitFor(sample, () => {
            const text = document.getElementById("status").textContent;
            return text != "확인하지 않음" && text;
        }, null, 30000).then((h) => h.jsonValue(), (e) => String(e));
        check(status === "컨트롤 준비 완료", "upload.html in a second tab: " + status);
        const help = await session.waitFor(sample, (wanted) => {
            const box = document.getElementById("popupHelp");
            return !wanted || box.style.display === "block" ? { shown: box.style.display === "block", text: box.textContent } : null;
        }, !popup, 10000).then((h) => h.jsonValue(), (e) => ({ shown: false, text: String(e) }));
        if (popup)
            check(!help.shown, "upload.html shows no pop-up guide where the extension allowed pop-ups");
        else
            check(help.shown && help.text.includes(POPUP_HELP) && help.text.includes("팝업 창 차단"),
                  "upload.html shows how to allow pop-ups: " + JSON.stringify(help));
        await sample.close();

        // A page of another origin: no content script, no extension, a pointer to the
        // install page; and pages the patterns take but the site list does not name.
        await checkUnlisted(session, [FOREIGN, ...UNLISTED]);

        // What the service and the companion programs received.
        const requests = fs.readFileSync(path.join(dir, "www", "_requests.log"), "utf8");
        check(/^\/vude\/ver\.ini 200$/m.test(requests) && /^\/vude\/setup\.exe 200$/m.test(requests),
              "the update server served the version file and the setup program:\n" + requests);
        const companions = path.join(dir, "companion.log");
        for (const pieces of [
            ["TavrineUp.exe ", " cmdline bbs demo tavrine123 "],
            ["TavrineUp.exe ", " text=T:\\자료\\사진\\여행\\a.jpg#>T:\\자료\\사진\\b.jpg#>T:\\자료\\메모.txt"],
            ["TavrineDown.exe ", " text=2001#<C:\\Tavrine 받은 파일\\회의록 3월.hwp#>2002#<C:\\Tavrine 받은 파일\\사진\\단체 사진.jpg"],
            ["TavrineDown.exe ", " kind=8 ", " text=https://tavrine.example/s/7f3a"],
        ])
            check(await waitForLine(companions, pieces, 20000), "the companions' log has a line with " + pieces.join(" … "));
        check(!decodeLog(companions).includes("forged"), "the forged link reached no companion");

        // The setup program registered the host it installed: its manifest for this
        // browser beside it, and the browsers' keys naming the manifests.
        const installed = path.join(process.env.TAVRINE_PREFIX, "drive_c", "Program Files", "Tavrine");
        const manifestName = firefox ? "com.tavrine.bridge.firefox.json" : "com.tavrine.bridge.json";
        let manifest = {};
        try {
            manifest = JSON.parse(fs.readFileSync(path.join(installed, manifestName), "utf8"));
        } catch (e) {
            check(false, "the installed host's manifest: " + e.message);
        }
        const callers = firefox ? manifest.allowed_extensions : manifest.allowed_origins;
        check(/\\Tavrine\\TavrineBridge\.exe$/.test(String(manifest.path)) &&
              (callers || []).includes(firefox ? GECKO_ID : "chrome-extension://" + EXTENSION_ID + "/"),
              "the manifest names the installed host and the extension: " + JSON.stringify(manifest));
        for (const browser of ["Google\\Chrome", "Microsoft\\Edge", "Mozilla"]) {
            let value = "";
            try {
                value = execFileSync("/usr/lib/wine/wine64", ["reg", "query",
                    `HKCU\\Software\\${browser}\\NativeMessagingHosts\\com.tavrine.bridge`, "/ve"],
                    { stdio: ["ignore", "pipe", "ignore"], timeout: 60000 }).toString("latin1");
            } catch (e) {
                value = "";
            }
            check(/\\Tavrine\\com\.tavrine\.bridge(\.firefox)?\.json/.test(value),
                  `the ${browser} key names the installed manifest: ${value.trim()}`);
        }
        console.log(`road (${browserName}): ${(roadMs / 1000).toFixed(1)} s in the browser, ` +
                    `${((Date.now() - started) / 1000).toFixed(1)} s in all`);

        if (firefox) {
            await session.close();
            closed = true;
            await checkPolicyInstall(tls, port);
        }
        console.log(failures ? `FAILED ${failures} of ${checks} checks` : `PASS ${checks} checks`);
        if (failures) {
            console.log("--- the page's log");
            console.log(log);
        }
        rc = failures ? 1 : 0;
    } finally {
        if (!closed)
            await session.close();
        server.close();
    }
    process.exitCode = rc;
}

if (require.main === module) {
    main().catch((e) => {
        console.log("browser-road: " + (e && e.stack || e));
        process.exitCode = 1;
    });
}
module.exports = { check, results: () => ({ checks, failures }), makeCertificate, serve, extensionId, SITE };
