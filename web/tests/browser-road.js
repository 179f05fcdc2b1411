// The sample page's road in a real browser: Debian's Chromium, headless, with the
// extension (its Chrome build) and the native host TavrineBridge.exe under Wine,
// the page served over https with a certificate made for this run. Started by
// web/tests/browser-road.sh, which prepares the Wine prefix, the update server, the
// picked folder, the host's start script and the picker driver.
//
//   node browser-road.js check|demo
//
// demo: prints what the page receives, as tools/demo.sh does, and the browser's
// pop-up allowance. check: the same road, then what must hold: the events, the
// dialogs the page was told of, the pop-up allowance, a page of another origin that
// gets nothing, a request forged by a frame of the page that is refused, and what
// reached the update server and the companion programs. Exit code 0 when all held.
//
// Environment: TAVRINE_ROAD_DIR (the run's folder), TAVRINE_EXTENSION_DIR (the Chrome
// build), TAVRINE_HOST_SCRIPT (starts the host), TAVRINE_SOURCE_DIR, CHROMIUM (binary).
"use strict";

const fs = require("fs");
const path = require("path");
const https = require("https");
const crypto = require("crypto");
const { execFileSync } = require("child_process");

const mode = process.argv[2];
// Required as a module (web/tests/managed-install.js), it only lends its helpers.
if (require.main === module && mode !== "check" && mode !== "demo") {
    console.error("usage: node browser-road.js check|demo");
    process.exit(2);
}
const source = process.env.TAVRINE_SOURCE_DIR;
const dir = process.env.TAVRINE_ROAD_DIR;
const extension = process.env.TAVRINE_EXTENSION_DIR;
const hostScript = process.env.TAVRINE_HOST_SCRIPT;
const chromiumPath = process.env.CHROMIUM || "/usr/lib/chromium/chromium";
const { chromium } = require(path.join(source, "web", "node_modules", "playwright-core"));

// The build's extension ID, as Chrome derives it from the manifest's key: the first 16
// bytes of the key's SHA-256, each half-byte a letter a-p.
function extensionId(dir) {
    const key = JSON.parse(fs.readFileSync(path.join(dir, "manifest.json"), "utf8")).key;
    const hex = crypto.createHash("sha256").update(Buffer.from(key, "base64")).digest("hex").slice(0, 32);
    return [...hex].map((c) => String.fromCharCode(97 + parseInt(c, 16))).join("");
}
const EXTENSION_ID = extension ? extensionId(extension) : null;
const SITE = "www.tavrine.example";
const FOREIGN = "other.example";

let checks = 0, failures = 0;
function check(condition, what) {
    checks++;
    if (!condition) {
        failures++;
        console.log("FAIL: " + what);
    }
    return condition;
}

// A certificate for this run only (the key never leaves the run's folder); Chromium
// trusts it by the hash of its public key, not by a changed trust store.
function makeCertificate(folder = dir) {
    const key = path.join(folder, "tls-key.pem"), cert = path.join(folder, "tls-cert.pem");
    execFileSync("openssl", ["req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                             "-keyout", key, "-out", cert, "-days", "1", "-subj", "/CN=" + SITE,
                             "-addext", "subjectAltName=DNS:" + SITE + ",DNS:" + FOREIGN], { stdio: "ignore" });
    const pem = fs.readFileSync(cert);
    const spki = new crypto.X509Certificate(pem).publicKey.export({ type: "spki", format: "der" });
    return { key: fs.readFileSync(key), cert: pem, spki: crypto.createHash("sha256").update(spki).digest("base64") };
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

async function launch(tls, port) {
    const profile = path.join(dir, "profile");
    fs.rmSync(profile, { recursive: true, force: true });
    fs.mkdirSync(path.join(profile, "NativeMessagingHosts"), { recursive: true });
    fs.writeFileSync(path.join(profile, "NativeMessagingHosts", "com.tavrine.bridge.json"), JSON.stringify({
        name: "com.tavrine.bridge",
        description: "Tavrine bridge (test run)",
        path: hostScript,
        type: "stdio",
        allowed_origins: ["chrome-extension://" + EXTENSION_ID + "/"],
    }, null, 2));
    const args = [
        "--disable-extensions-except=" + extension, "--load-extension=" + extension,
        "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
        "--disable-component-update", "--disable-sync",
        `--host-resolver-rules=MAP ${SITE}:443 127.0.0.1:${port},MAP ${FOREIGN}:443 127.0.0.1:${port}`,
        "--ignore-certificate-errors-spki-list=" + tls.spki,
    ];
    if (process.getuid && process.getuid() === 0)
        args.push("--no-sandbox");
    return chromium.launchPersistentContext(profile, {
        executablePath: chromiumPath, headless: true, ignoreDefaultArgs: ["--disable-extensions"], args,
    });
}

// Every message the page's window receives from the extension, kept in the page.
function recordMessages() {
    window.tavrineSeen = [];
    window.addEventListener("message", (e) => {
        if (e.data && e.data.tavrine === "extension")
            window.tavrineSeen.push(e.data);
    });
}

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

async function main() {
    const started = Date.now();
    const tls = makeCertificate();
    const server = await serve(tls);
    const port = server.address().port;
    const context = await launch(tls, port);
    let rc = 1;
    try {
        let worker = context.serviceWorkers().find((w) => w.url().includes(EXTENSION_ID));
        if (!worker)
            worker = await context.waitForEvent("serviceworker", { timeout: 30000 });
        if (mode === "check")
            check(worker.url().startsWith("chrome-extension://" + EXTENSION_ID + "/"),
                  "the extension runs with its fixed ID, got " + worker.url());

        const page = await context.newPage();
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
            check(await page.evaluate(() => Tavrine.mode()) === "extension", "tavrine.js found the extension");

        // The road itself: examples/demo.js, as in the page host.
        const roadStart = Date.now();
        await page.addScriptTag({ url: "/demo.js" });
        await page.waitForFunction(() => window.page.finished !== null, null, { timeout: 150000, polling: 200 });
        const finished = await page.evaluate(() => window.page.finished);
        const roadMs = Date.now() - roadStart;

        const popup = (url) => worker.evaluate((u) => new Promise((resolve) =>
            chrome.contentSettings.popups.get({ primaryUrl: u }, (d) => resolve(d.setting))), url);
        const ownPopups = await popup(`https://${SITE}/`);
        const foreignPopups = await popup(`https://${FOREIGN}/`);
        if (mode === "demo") {
            console.log("");
            console.log("== The browser's pop-up allowance (Chromium's content settings)");
            console.log(`  https://${SITE}/: ${ownPopups}`);
            console.log(`  https://${FOREIGN}/: ${foreignPopups}`);
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
        check(ownPopups === "allow", "pop-ups allowed for the page's own origin, got " + ownPopups);
        check(foreignPopups !== "allow", "pop-ups not allowed for another origin");

        // AllowPopUp naming another host is declined and allows nothing.
        const other = await page.evaluate(() => new Promise((resolve) =>
            Tavrine.AllowPopUp("other.example", (e, v) => resolve(v))));
        check(other === false, "AllowPopUp of another host answers false, got " + other);
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
        console.log(`round trip page -> host -> page (SelectComplete with its event, 100 calls): ` +
                    `median ${times[50].toFixed(1)} ms, 99th percentile ${times[98].toFixed(1)} ms`);

        // The sample page itself, in a second tab (a second host): on load it allows its
        // pop-ups and checks the control, as in IE mode.
        const sample = await context.newPage();
        await sample.goto(`https://${SITE}/upload.html`);
        const status = await sample.waitForFunction(() => {
            const text = document.getElementById("status").textContent;
            return text != "확인하지 않음" && text;
        }, null, { timeout: 30000, polling: 100 }).then((h) => h.jsonValue(), (e) => String(e));
        check(status === "컨트롤 준비 완료", "upload.html in a second tab: " + status);
        await sample.close();

        // A page of another origin: no content script, no extension, a pointer to the install page.
        const foreign = await context.newPage();
        await foreign.goto(`https://${FOREIGN}/road.html`);
        const seen = await foreign.evaluate(() => new Promise((resolve) => {
            Tavrine.CheckInstall((e) => resolve({ mode: Tavrine.mode(), code: e && e.code, message: e && e.message,
                                                 marker: document.documentElement.getAttribute("data-tavrine-bridge") }));
        }));
        check(seen.mode === "none" && seen.code === "unavailable" && seen.marker === null,
              "a page of another origin gets nothing: " + JSON.stringify(seen));
        check(String(seen.message).includes("https://www.tavrine.example/install/"),
              "... and is pointed to the install page");
        await foreign.close();

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

        // The setup program registered the host it installed: its manifest beside it, and
        // the browsers' keys naming that manifest.
        const installed = path.join(process.env.TAVRINE_PREFIX, "drive_c", "Program Files", "Tavrine");
        let manifest = {};
        try {
            manifest = JSON.parse(fs.readFileSync(path.join(installed, "com.tavrine.bridge.json"), "utf8"));
        } catch (e) {
            check(false, "the installed host's manifest: " + e.message);
        }
        check(/\\Tavrine\\TavrineBridge\.exe$/.test(String(manifest.path)) &&
              (manifest.allowed_origins || []).includes("chrome-extension://" + EXTENSION_ID + "/"),
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
        console.log(`road: ${(roadMs / 1000).toFixed(1)} s in the browser, ${((Date.now() - started) / 1000).toFixed(1)} s in all`);
        console.log(failures ? `FAILED ${failures} of ${checks} checks` : `PASS ${checks} checks`);
        if (failures) {
            console.log("--- the page's log");
            console.log(log);
        }
        rc = failures ? 1 : 0;
    } finally {
        await context.close();
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
