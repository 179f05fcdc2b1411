#!/usr/bin/env python3
"""Releases the browser bridge from a built tree with the deployer's own keys: the native host
TavrineBridge.exe signed with the control's code-signing certificate, the Chrome/Edge
extension as a CRX3 signed with the extension key with its update manifest and a store
upload, and the Firefox extension as an .xpi for Mozilla's signing. Beside sign-package.sh,
with the same refusals.

  deploy/release-bridge.py --build DIR --out DIR <certificate options> --extension-key FILE
                           --serve-url URL [options]
    --build DIR          a configured and built tree (build/release; the 32-bit host is the one
                         that runs on every supported Windows)
    --out DIR            where the release goes
    --extension-key FILE the Chrome extension's private key (PKCS#8 PEM without a password), the
                         key the build was configured with (TAVRINE_CHROME_EXTENSION_KEY)
    --serve-url URL      where the CRX and updates.xml are served, for the update manifest and
                         the ExtensionInstallForcelist value printed at the end
  certificate, one of (as for sign-package.sh):
    --certs FILE --key FILE   certificate chain (PEM or SPC/DER) and private key (PEM or DER)
    --pkcs12 FILE             certificate and key in one PKCS#12 (.pfx) file
    --pass-file FILE          the key's password, first line of FILE (never on the command line)
  options:
    --timestamp URL    RFC 3161 time-stamping server for the host's signature
    --cafile FILE      verify the host's signature against these trusted certificates
    --allow-http       release a build whose update address, or a serve URL, is not https (tests)
    --unlocked         release a host built without a site list or without a setup publisher
    --chromium FILE    Chromium, whose own packer makes the CRX (default: chromium)

Writes TavrineBridge.exe, tavrine-<version>.crx, updates.xml, tavrine-<version>-store.zip,
tavrine-<version>.xpi and listing.txt (name, size and SHA-256 of each), and prints the listing.
"""
import argparse
import base64
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tools"))
from pecheck import PEFile, PEError, check_host  # noqa: E402

DESCRIPTION = "Tavrine Browser Bridge"
HOST = "TavrineBridge.exe"
TIMEOUT = 120
MINIMUM_WINDOWS = {"i386": (5, 1), "amd64": (5, 2)}


class Refused(Exception):
    pass


def run(args, what):
    try:
        p = subprocess.run(args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                           timeout=TIMEOUT)
    except FileNotFoundError:
        raise Refused("%s is not installed (tools/install-deps.sh installs it)" % args[0])
    except subprocess.TimeoutExpired:
        raise Refused("%s timed out after %d s" % (what, TIMEOUT))
    if p.returncode != 0:
        raise Refused("%s failed (exit %d): %s" % (what, p.returncode, p.stdout.decode("utf-8", "replace").strip()))
    return p.stdout


def chrome_id(der):
    """Chrome's ID of a public key: the first 16 bytes of its SHA-256, each half-byte a letter a-p."""
    return "".join(chr(ord("a") + int(c, 16)) for c in hashlib.sha256(der).hexdigest()[:32])


def read_varint(data, at):
    value, shift = 0, 0
    while True:
        byte = data[at]
        at += 1
        value |= (byte & 0x7F) << shift
        shift += 7
        if not byte & 0x80:
            return value, at


def proto_fields(data):
    """(field number, wire type, value) of a protocol buffer message; bytes for length-delimited."""
    at = 0
    while at < len(data):
        key, at = read_varint(data, at)
        number, wire = key >> 3, key & 7
        if wire == 0:
            value, at = read_varint(data, at)
        elif wire == 2:
            length, at = read_varint(data, at)
            value, at = data[at:at + length], at + length
        elif wire == 5:
            value, at = data[at:at + 4], at + 4
        elif wire == 1:
            value, at = data[at:at + 8], at + 8
        else:
            raise ValueError("wire type %d" % wire)
        yield number, wire, value


def crx_identity(path):
    """The ID a CRX3 file states (signed header data, crx_id) and its zip archive."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] != b"Cr24" or int.from_bytes(data[4:8], "little") != 3:
        raise ValueError("not a CRX3 file")
    size = int.from_bytes(data[8:12], "little")
    header, archive = data[12:12 + size], data[12 + size:]
    signed = [v for n, w, v in proto_fields(header) if n == 10000 and w == 2]
    ids = [v for n, w, v in proto_fields(signed[0]) if n == 1 and w == 2] if signed else []
    if len(ids) != 1 or len(ids[0]) != 16:
        raise ValueError("no crx_id in the CRX header")
    return "".join(chr(ord("a") + (b >> 4)) + chr(ord("a") + (b & 15)) for b in ids[0]), archive


def zip_folder(folder, out, manifest=None):
    """A zip of a folder's files at its root, in name order with a fixed date (the same
    build gives the same bytes); manifest, when given, replaces manifest.json."""
    names = sorted(os.path.relpath(os.path.join(root, n), folder).replace(os.sep, "/")
                   for root, _, files in os.walk(folder) for n in files)
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        for name in names:
            info = zipfile.ZipInfo(name, date_time=(1980, 1, 1, 0, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            if name == "manifest.json" and manifest is not None:
                body = (json.dumps(manifest, ensure_ascii=False, indent=2) + "\n").encode("utf-8")
            else:
                with open(os.path.join(folder, name), "rb") as f:
                    body = f.read()
            z.writestr(info, body)


def cache_values(build):
    path = os.path.join(build, "CMakeCache.txt")
    if not os.path.isfile(path):
        raise Refused("%s is not a configured build tree" % build)
    values = {}
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            m = re.match(r"^([A-Za-z0-9_]+):[A-Z]+=(.*)$", line.rstrip("\n"))
            if m:
                values.setdefault(m.group(1), m.group(2))
    return values


def project_version(source):
    with open(os.path.join(source, "CMakeLists.txt"), encoding="utf-8") as f:
        m = re.search(r"project\s*\(\s*TavrineControl\s+VERSION\s+(\d+\.\d+\.\d+\.\d+)", f.read())
    if not m:
        raise Refused("no project version in %s/CMakeLists.txt" % source)
    return m.group(1)


def https_or_refuse(url, what, allow_http):
    if re.match(r"^https://[^/?#]+", url):
        return
    if allow_http and re.match(r"^http://[^/?#]+", url):
        return
    raise Refused("%s is '%s'; a release needs an https address" % (what, url))


def release(args):
    build = os.path.abspath(args.build)
    cache = cache_values(build)
    source = cache.get("TavrineControl_SOURCE_DIR") or os.path.join(HERE, "..")
    version = project_version(source)
    # The control the host serves runs the setup program it fetches from this address, and the
    # browsers fetch the extension's updates from the serve URL.
    https_or_refuse(cache.get("TAVRINE_UPDATE_URL", ""), "the build's TAVRINE_UPDATE_URL", args.allow_http)
    serve = args.serve_url.rstrip("/")
    https_or_refuse(serve, "--serve-url", args.allow_http)

    host = os.path.join(build, "bridge", HOST)
    if not os.path.isfile(host):
        raise Refused("%s is missing: build first" % host)
    pe = PEFile(host)
    if pe.machine not in MINIMUM_WINDOWS:
        raise Refused("%s is built for %s" % (host, pe.machine))
    problems = check_host(host, pe.machine, version, MINIMUM_WINDOWS[pe.machine])
    if problems:
        raise Refused("%s is not as it must ship: %s" % (host, "; ".join(problems)))

    # What the host itself says it locks and serves: the file being signed is what counts.
    locks = {}
    for line in (pe.resource_bytes("BUILDLOCKS", 1) or b"").decode("ascii", "replace").splitlines():
        key, _, value = line.partition("=")
        locks[key] = value.strip("\0")
    served = [i for i in locks.get("extensions", "").split(",") if i]
    if not args.unlocked:
        if not locks.get("sites"):
            raise Refused("%s was built without a site list: any page the extension runs on could drive it. "
                          "Reconfigure with -DTAVRINE_ALLOWED_SITES=..., or pass --unlocked" % host)
        if not locks.get("publisher"):
            raise Refused("%s was built without a setup publisher: it would run any setup program its update "
                          "server sends. Reconfigure with -DTAVRINE_SETUP_PUBLISHER=<pin>, or pass --unlocked" % host)

    ext = os.path.join(build, "extension")
    manifests = {}
    for kind in ("chrome", "firefox"):
        with open(os.path.join(ext, kind, "manifest.json"), encoding="utf-8") as f:
            manifests[kind] = json.load(f)
        if manifests[kind].get("version") != version:
            raise Refused("the %s extension's version is %r, the project's %s: build again"
                          % (kind, manifests[kind].get("version"), version))

    # One key, one ID: the key signing the CRX is the build's, whose ID the host serves.
    der = run(["openssl", "pkey", "-in", args.extension_key, "-passin", "pass:", "-pubout", "-outform", "DER"],
              "reading the extension key %s" % args.extension_key)
    ext_id = chrome_id(der)
    if base64.b64encode(der).decode() != manifests["chrome"].get("key"):
        raise Refused("%s is not the key the build was configured with (its ID is %s, the build's extension "
                      "carries %s): reconfigure with -DTAVRINE_CHROME_EXTENSION_KEY=%s"
                      % (args.extension_key, ext_id, chrome_id(base64.b64decode(manifests["chrome"].get("key", ""))),
                         os.path.abspath(args.extension_key)))
    gecko_id = manifests["firefox"].get("browser_specific_settings", {}).get("gecko", {}).get("id")
    for what, wanted in (("Chrome/Edge extension", ext_id), ("Firefox add-on", gecko_id)):
        if wanted not in served:
            raise Refused("%s serves %s, not the %s %s" % (host, served, what, wanted))

    os.makedirs(args.out, exist_ok=True)
    written = []
    with tempfile.TemporaryDirectory(prefix="tavrine-release.") as work:
        # The host, signed.
        signed = os.path.join(work, HOST)
        sign = ["osslsigncode", "sign"]
        if args.pkcs12:
            sign += ["-pkcs12", args.pkcs12]
        else:
            sign += ["-certs", args.certs, "-key", args.key]
        if args.pass_file:
            sign += ["-readpass", args.pass_file]
        sign += ["-h", "sha256", "-n", DESCRIPTION]
        if args.timestamp:
            sign += ["-ts", args.timestamp]
        run(sign + ["-in", host, "-out", signed], "signing %s" % HOST)
        if args.cafile:
            out = run(["osslsigncode", "verify", "-CAfile", args.cafile, "-in", signed], "verifying %s" % HOST)
            if b"Signature verification: ok" not in out:
                raise Refused("the signature of %s does not verify against %s" % (HOST, args.cafile))
        written.append((signed, HOST))

        # The CRX: Chromium's packer names it after the folder; a private profile keeps the
        # packer out of the user's own.
        crx_dir = os.path.join(work, "tavrine")
        shutil.copytree(os.path.join(ext, "chrome"), crx_dir)
        run([args.chromium, "--no-sandbox", "--headless", "--user-data-dir=" + os.path.join(work, "profile"),
             "--pack-extension=" + crx_dir, "--pack-extension-key=" + os.path.abspath(args.extension_key)],
            "packing the CRX")
        crx_name = "tavrine-%s.crx" % version
        crx = os.path.join(work, crx_name)
        os.rename(crx_dir + ".crx", crx)
        packed_id, _ = crx_identity(crx)
        if packed_id != ext_id:
            raise Refused("Chromium packed the CRX as %s, expected %s" % (packed_id, ext_id))
        written.append((crx, crx_name))

        updates = os.path.join(work, "updates.xml")
        with open(updates, "w", encoding="utf-8") as f:
            f.write("<?xml version='1.0' encoding='UTF-8'?>\n"
                    "<gupdate xmlns='http://www.google.com/update2/response' protocol='2.0'>\n"
                    "  <app appid='%s'>\n"
                    "    <updatecheck codebase='%s/%s' version='%s' />\n"
                    "  </app>\n"
                    "</gupdate>\n" % (ext_id, serve, crx_name, version))
        written.append((updates, "updates.xml"))

        # The stores give their own IDs and refuse a manifest with a key.
        store_name = "tavrine-%s-store.zip" % version
        store_manifest = {k: v for k, v in manifests["chrome"].items() if k != "key"}
        zip_folder(os.path.join(ext, "chrome"), os.path.join(work, store_name), store_manifest)
        written.append((os.path.join(work, store_name), store_name))

        xpi_name = "tavrine-%s.xpi" % version
        zip_folder(os.path.join(ext, "firefox"), os.path.join(work, xpi_name))
        written.append((os.path.join(work, xpi_name), xpi_name))

        lines = []
        for path, name in written:
            with open(path, "rb") as f:
                body = f.read()
            lines.append("%-32s %9d  %s" % (name, len(body), hashlib.sha256(body).hexdigest()))
            # Chromium writes the CRX for its owner alone; the release is served to everyone.
            os.chmod(path, 0o644)
            shutil.move(path, os.path.join(args.out, name))
        with open(os.path.join(args.out, "listing.txt"), "w", encoding="utf-8") as f:
            f.write("\n".join(lines) + "\n")

    print("release-bridge: wrote to %s (name, size in bytes, SHA-256):" % args.out)
    for line in lines:
        print("  " + line)
    print("release-bridge: Chrome/Edge extension ID %s; ExtensionInstallForcelist value: %s;%s/updates.xml"
          % (ext_id, ext_id, serve))
    print("release-bridge: Firefox add-on ID %s; submit %s to addons.mozilla.org for signing" % (gecko_id, xpi_name))
    if gecko_id == "bridge@tavrine.example":
        print("release-bridge: WARNING: the Firefox add-on ID is the development one; "
              "configure the release with -DTAVRINE_FIREFOX_EXTENSION_ID=<the service's own>")
    if locks.get("sites") and locks.get("publisher"):
        print("release-bridge: the host is locked to sites %s; setup publisher %s" % (locks["sites"], locks["publisher"]))
    else:
        print("release-bridge: the host is released UNLOCKED (sites: %s; setup publisher: %s)"
              % (locks.get("sites") or "none", locks.get("publisher") or "none"))
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--extension-key", required=True)
    parser.add_argument("--serve-url", required=True)
    parser.add_argument("--certs")
    parser.add_argument("--key")
    parser.add_argument("--pkcs12")
    parser.add_argument("--pass-file")
    parser.add_argument("--timestamp")
    parser.add_argument("--cafile")
    parser.add_argument("--allow-http", action="store_true")
    parser.add_argument("--unlocked", action="store_true")
    parser.add_argument("--chromium", default="chromium")
    args = parser.parse_args()
    if args.pkcs12 and (args.certs or args.key):
        parser.error("give either --pkcs12 or --certs and --key, not both")
    if not args.pkcs12 and not (args.certs and args.key):
        parser.error("a certificate and key are needed (--certs and --key, or --pkcs12)")
    try:
        return release(args)
    except (Refused, OSError, PEError, ValueError) as e:
        print("release-bridge: %s" % e, file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
