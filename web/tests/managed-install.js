// The managed install in a real browser: the bridge released as a deployer releases it
// (deploy/release-bridge.py: the CRX signed with the build's extension key, its update
// manifest), served from a local update server, and Debian's Chromium made to install it by
// policy files. Run by web/tests/managed-install.sh inside a private mount namespace whose
// /etc is an overlay: the policy files and the machine-level host manifest exist there only.
//
//   node managed-install.js
//
// Each round starts Chromium with one set of policies and calls the host from the service's
// page: forced install alone (installed by the admin, the content script on the page, a call
// answered by the host with its event); NativeMessagingBlocklist ["*"] (refused, no host
// started); with NativeMessagingAllowlist ["com.tavrine.bridge"] (answered);
// NativeMessagingUserLevelHosts false with the host registered for the user (refused: not
// found) and for the machine (answered). Exit code 0 when all held.
//
// Environment: TAVRINE_MANAGED_DIR (the run's folder), TAVRINE_BUILD_DIR, TAVRINE_SOURCE_DIR,
// TAVRINE_HOST_SCRIPT (starts the host, given the log name as its first argument), CHROMIUM.
"use strict";

const fs = require("fs");
const http = require("http");
const path = require("path");
const { execFileSync } = require("child_process");

const dir = process.env.TAVRINE_MANAGED_DIR;
const build = process.env.TAVRINE_BUILD_DIR;
const source = process.env.TAVRINE_SOURCE_DIR;
const hostScript = process.env.TAVRINE_HOST_SCRIPT;
const chromiumPath = process.env.CHROMIUM || "/usr/lib/chromium/chromium";
const { chromium } = require(path.join(source, "web", "node_modules", "playwright-core"));
const road = require("./browser-road.js");

const HOST_NAME = "com.tavrine.bridge";
const POLICY_DIR = "/etc/chromium/policies/managed";
const SYSTEM_HOSTS = "/etc/chromium/native-messaging-hosts";

const check = road.check;

// The local update server: the release folder over plain http on 127.0.0.1, and a log of
// what Chromium asked for.
function serveRelease(folder, requests) {
    const server = http.createServer((req, res) => {
        const name = path.basename(req.url.split("?")[0]);
        const file = path.join(folder, name);
        requests.push(name);
        if (!/^[\w.-]+$/.test(name) || !fs.existsSync(file)) {
            res.writeHead(404);
            res.end();
            return;
        }
        res.writeHead(200, { "Content-Type": name.endsWith(".crx") ? "application/x-chrome-extension" : "text/xml" });
        res.end(fs.readFileSync(file));
    });
    return new Promise((resolve) => server.listen(0, "127.0.0.1", () => resolve(server)));
}

// The deployer's release: a throw-away code-signing certificate, the build's extension key.
function release(port) {
    const out = path.join(dir, "release");
    const cert = path.join(dir, "signer.pem"), key = path.join(dir, "signer.key");
    execFileSync("openssl", ["req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj", "/CN=Tavrine managed test",
                             "-keyout", key, "-out", cert, "-addext", "extendedKeyUsage=codeSigning"], { stdio: "ignore" });
    const cache = fs.readFileSync(path.join(build, "CMakeCache.txt"), "utf8");
    const extKey = (cache.match(/^TAVRINE_CHROME_EXTENSION_KEY:[A-Z]+=(.*)$/m) || [])[1];
    const t0 = Date.now();
    const text = execFileSync("python3", [path.join(source, "deploy", "release-bridge.py"), "--build", build, "--out", out,
                                          "--certs", cert, "--key", key, "--extension-key", extKey,
                                          "--serve-url", `http://127.0.0.1:${port}`, "--allow-http", "--unlocked",
                                          "--chromium", chromiumPath],
                              { encoding: "utf8", timeout: 120000 });
    console.log(text.trim());
    console.log(`release: ${Date.now() - t0} ms`);
    const id = (text.match(/Chrome\/Edge extension ID ([a-p]{32})/) || [])[1];
    return { out, id };
}

function writeJson(file, value) {
    fs.mkdirSync(path.dirname(file), { recursive: true });
    fs.writeFileSync(file, JSON.stringify(value, null, 2));
}

// The host's manifest for Chromium at one level; each level's start script writes its own
// line to the log, so the test tells which manifest (if any) started a host.
function hostManifest(file, level, id) {
    const script = path.join(dir, `host-${level}.sh`);
    fs.writeFileSync(script, `#!/bin/sh\nexec '${hostScript}' ${level} "$@"\n`);
    fs.chmodSync(script, 0o755);
    writeJson(file, {
        name: HOST_NAME, description: "Tavrine bridge (managed install test)", path: script, type: "stdio",
        allowed_origins: ["chrome-extension://" + id + "/"],
    });
}

function starts() {
    try {
        return fs.readFileSync(path.join(dir, "host-starts.log"), "utf8").split("\n").filter(Boolean);
    } catch (e) {
        return [];
    }
}

async function round(r, ctx) {
    const t0 = Date.now();
    fs.rmSync(POLICY_DIR, { recursive: true, force: true });
    writeJson(path.join(POLICY_DIR, "tavrine.json"), Object.assign({
        ExtensionInstallForcelist: [`${ctx.id};http://127.0.0.1:${ctx.port}/updates.xml`],
        // The driver reaches the extension's service worker only with developer tools allowed.
        DeveloperToolsAvailability: 1,
    }, r.policy));
    const userManifest = path.join(ctx.profile, "NativeMessagingHosts", HOST_NAME + ".json");
    const systemManifest = path.join(SYSTEM_HOSTS, HOST_NAME + ".json");
    fs.rmSync(userManifest, { force: true });
    fs.rmSync(systemManifest, { force: true });
    if (r.level === "user")
        hostManifest(userManifest, "user", ctx.id);
    else
        hostManifest(systemManifest, "system", ctx.id);

    const args = [
        "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-sync",
        `--host-resolver-rules=MAP ${road.SITE}:443 127.0.0.1:${ctx.pagePort}`,
        "--ignore-certificate-errors-spki-list=" + ctx.tls.spki,
    ];
    if (process.getuid && process.getuid() === 0)
        args.push("--no-sandbox");
    // Playwright's defaults switch off extensions and the background fetches that the
    // extension updater makes.
    const context = await chromium.launchPersistentContext(ctx.profile, {
        executablePath: chromiumPath, headless: true, args,
        ignoreDefaultArgs: ["--disable-extensions", "--disable-background-networking",
                            "--disable-component-extensions-with-background-pages"],
    });
    try {
        // The first start installs the extension, which starts its service worker; a later
        // one starts it when the page's content script first connects.
        const findWorker = () => context.serviceWorkers().find((w) => w.url().includes(ctx.id)) ||
            context.waitForEvent("serviceworker", { predicate: (w) => w.url().includes(ctx.id), timeout: 30000 });
        if (r.installs)
            await findWorker();
        const installed = Date.now() - t0;
        const page = await context.newPage();
        const lines = [];
        page.on("console", (msg) => lines.push(msg.text()));
        await page.goto(`https://${road.SITE}/road.html`);
        const seen = await page.evaluate(() => ({
            mode: Tavrine.mode(), marker: document.documentElement.getAttribute("data-tavrine-bridge") }));
        check(seen.mode === "extension" && seen.marker === ctx.version,
              `${r.name}: the content script runs on the service's page: ${JSON.stringify(seen)}`);
        const before = starts().length;
        const callStart = Date.now();
        const answer = await page.evaluate(() => new Promise((resolve) => {
            Tavrine.SelectComplete("T:\\관리 설치", "1", "-1", (e, v) => resolve(e ? { code: e.code, message: e.message } : { value: v }));
        }));
        const callMs = Date.now() - callStart;
        const started = starts().slice(before);
        const worker = await findWorker();
        const self = await worker.evaluate(() => new Promise((resolve) => chrome.management.getSelf(resolve)));
        check(self.installType === "admin" && self.version === ctx.version,
              `${r.name}: installed by policy as ${ctx.version}: ${JSON.stringify({ type: self.installType, version: self.version })}`);
        if (r.answers) {
            check(answer.value === true, `${r.name}: the host answers the call: ${JSON.stringify(answer)}`);
            check(lines.some((l) => l.includes("<- UpSelectComplete: T:\\관리 설치")),
                  `${r.name}: the host's event reached the page: ${lines.join(" | ")}`);
            check(started.length === 1 && started[0].startsWith(r.level),
                  `${r.name}: one host started from the ${r.level} manifest: ${JSON.stringify(started)}`);
        } else {
            check(answer.code === "host" && String(answer.message).includes(r.refusal),
                  `${r.name}: refused with "${r.refusal}": ${JSON.stringify(answer)}`);
            check(started.length === 0, `${r.name}: no host started: ${JSON.stringify(started)}`);
        }
        if (r.installs) {
            // The CRX's permissions came with the policy install: the page's own pop-ups.
            const allowed = await page.evaluate(() => new Promise((resolve) =>
                Tavrine.AllowPopUp(location.hostname, (e, v) => resolve(e ? e.code : v))));
            const setting = await worker.evaluate((u) => new Promise((resolve) =>
                chrome.contentSettings.popups.get({ primaryUrl: u }, (d) => resolve(d.setting))), `https://${road.SITE}/`);
            check(allowed === true && setting === "allow",
                  `${r.name}: AllowPopUp for the page's own site: ${allowed}, setting ${setting}`);
        }
        console.log(`${r.name}: extension ready ${installed} ms after start, call ${callMs} ms ` +
                    `(${answer.code ? "refused" : "answered"}), round ${Date.now() - t0} ms`);
    } finally {
        await context.close();
    }
}

async function main() {
    const t0 = Date.now();
    const requests = [];
    const tls = road.makeCertificate(dir);
    const pageServer = await road.serve(tls);
    const updateServer = await serveRelease(path.join(dir, "release"), requests);
    const port = updateServer.address().port;
    const { id } = release(port);
    const version = JSON.parse(fs.readFileSync(path.join(build, "extension", "chrome", "manifest.json"), "utf8")).version;
    const ctx = { id, port, version, tls, pagePort: pageServer.address().port, profile: path.join(dir, "profile") };
    check(id === road.extensionId(path.join(build, "extension", "chrome")),
          `the release's ID ${id} is the build's ${road.extensionId(path.join(build, "extension", "chrome"))}`);
    const rounds = [
        { name: "forced install", policy: {}, level: "user", answers: true, installs: true },
        { name: "NativeMessagingBlocklist [*]", policy: { NativeMessagingBlocklist: ["*"] }, level: "user",
          refusal: "Access to the native messaging host was disabled by the system administrator." },
        { name: "... with NativeMessagingAllowlist [com.tavrine.bridge]", level: "user", answers: true,
          policy: { NativeMessagingBlocklist: ["*"], NativeMessagingAllowlist: [HOST_NAME] } },
        { name: "NativeMessagingUserLevelHosts false, host of the user", policy: { NativeMessagingUserLevelHosts: false },
          level: "user", refusal: "Specified native messaging host not found." },
        { name: "NativeMessagingUserLevelHosts false, host of the machine", policy: { NativeMessagingUserLevelHosts: false },
          level: "system", answers: true },
    ];
    try {
        for (const r of rounds)
            await round(r, ctx);
        const crx = `tavrine-${version}.crx`;
        check(requests.includes("updates.xml") && requests.includes(crx),
              `the update server served updates.xml and ${crx}: ${JSON.stringify(requests)}`);
    } finally {
        pageServer.close();
        updateServer.close();
    }
    console.log(`managed install: ${((Date.now() - t0) / 1000).toFixed(1)} s in all`);
    const { checks, failures } = road.results();
    console.log(failures ? `FAILED ${failures} of ${checks} checks` : `PASS ${checks} checks`);
    process.exitCode = failures ? 1 : 0;
}

main().catch((e) => {
    console.log("managed-install: " + (e && e.stack || e));
    process.exitCode = 1;
});
