#!/usr/bin/env python3
"""Host-side checks of what a deployer ships: the code-download cabinet, its signing, and
that every place stating the control's version agrees with the project version.

    deploycheck.py cabinet --cab C --dll D --inf I     the cabinet against the DLL it was built from
    deploycheck.py signing --build B --source S [--cc CC --rc RC]
                                                       signs a copy of the package with a
                                                       throw-away certificate and verifies it;
                                                       refusals of unlocked builds, with stand-in
                                                       DLLs built by CC and RC
    deploycheck.py page --source S --dll D             the sample page against page.js and the control
    deploycheck.py version --source S --dll D [--inf I] [--bridge B --extension E]
                                                       CMake, version resource, .inf, README, page,
                                                       the host's version resource, the extensions
    deploycheck.py release --build B --source S --extension-key K
                                                       releases the bridge with throw-away
                                                       certificates and checks every artefact;
                                                       the release script's refusals

Each prints one line per problem and exits 1 when there was any.
"""

import argparse
import hashlib
import html.parser
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import uuid
import xml.etree.ElementTree as ET
import zipfile

SOURCE = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE, "tools"))
from pecheck import PEFile, PEError, RT_VERSION  # noqa: E402

DLL_NAME = "TavrineControl.DLL"
INF_NAME = "TavrineControl.inf"
TIMEOUT = 120

problems = []


def fail(text):
    problems.append(text)
    print("FAIL: %s" % text)


def check(cond, text):
    if not cond:
        fail(text)
    return cond


def run(args, **kw):
    """Runs a host program, bounded; answers (exit code, output)."""
    try:
        p = subprocess.run(args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, timeout=TIMEOUT, **kw)
    except FileNotFoundError:
        return 127, "%s is not installed (tools/install-deps.sh installs it)" % args[0]
    except subprocess.TimeoutExpired:
        return 124, "%s timed out after %d s" % (args[0], TIMEOUT)
    return p.returncode, p.stdout.decode("utf-8", "replace")


# --- the .inf ---------------------------------------------------------------------
def parse_inf(raw):
    """Sections of an .inf as {lower-case name: [(lower-case key, value), ...]}."""
    sections = {}
    current = None
    for line in raw.decode("ascii").splitlines():
        line = line.strip()
        if not line or line.startswith(";"):
            continue
        if line.startswith("[") and line.endswith("]"):
            current = sections.setdefault(line[1:-1].strip().lower(), [])
            continue
        if current is None or "=" not in line:
            raise ValueError("line outside a section or without '=': %r" % line)
        key, value = line.split("=", 1)
        current.append((key.strip().lower(), value.strip()))
    return sections


def inf_value(section, key):
    values = [v for k, v in section if k == key.lower()]
    return values[0] if len(values) == 1 else None


def comma_version(info):
    f = info.fixed
    return "%d,%d,%d,%d" % (f["file_ms"] >> 16, f["file_ms"] & 0xFFFF,
                            f["file_ls"] >> 16, f["file_ls"] & 0xFFFF)


def dll_clsids(pe):
    """CLSIDs the DLL registers, from its class registry script."""
    rgs = pe.resource_bytes("REGISTRY", 103)
    if rgs is None:
        return set()
    text = rgs.decode("utf-8", "replace")
    found = set(g.upper() for g in re.findall(r"CLSID\s*=\s*s\s*'(\{[0-9A-Fa-f-]{36}\})'", text))
    found |= set(g.upper() for g in re.findall(r"ForceRemove\s+(\{[0-9A-Fa-f-]{36}\})", text))
    return found


def package_problems(inf_raw, dll_path, dll_member):
    """What is wrong with an .inf as the browser would read it next to this DLL."""
    out = []
    if b"\n" in inf_raw.replace(b"\r\n", b""):
        out.append(".inf has bare LF line ends (needs CRLF)")
    try:
        sections = parse_inf(inf_raw)
    except (UnicodeDecodeError, ValueError) as e:
        return out + [".inf cannot be read: %s" % e]

    version = sections.get("version")
    if version is None:
        out.append(".inf has no [version] section")
    else:
        if (inf_value(version, "signature") or "").strip('"').lower() != "$chicago$":
            out.append(".inf signature is %r, expected \"$CHICAGO$\"" % inf_value(version, "signature"))
        if inf_value(version, "AdvancedINF") != "2.0":
            out.append(".inf AdvancedINF is %r, expected 2.0" % inf_value(version, "AdvancedINF"))

    add_code = sections.get("add.code", [])
    if [k for k, _ in add_code] != [dll_member.lower()]:
        return out + ["[Add.Code] lists %r, expected only %r" % ([k for k, _ in add_code], dll_member)]
    file_section = sections.get(add_code[0][1].lower())
    if file_section is None:
        return out + ["[Add.Code] points at a missing section [%s]" % add_code[0][1]]

    pe = PEFile(dll_path)
    info = pe.version_info()
    if pe.machine != "i386":
        out.append("the packed DLL is for %s, the package installs it as win32-x86" % pe.machine)
    if inf_value(file_section, "file-win32-x86") != "thiscab":
        out.append("file-win32-x86 is %r, expected thiscab" % inf_value(file_section, "file-win32-x86"))
    clsid = (inf_value(file_section, "clsid") or "").upper()
    registered = dll_clsids(pe)
    if registered != {clsid}:
        out.append(".inf clsid %r, the DLL registers %s" % (clsid, sorted(registered)))
    else:
        tlb = pe.resource_bytes("TYPELIB", 1) or b""
        if uuid.UUID(clsid).bytes_le not in tlb:
            out.append(".inf clsid %s is not in the DLL's type library" % clsid)
    if info is None:
        out.append("the DLL has no version resource")
    elif inf_value(file_section, "FileVersion") != comma_version(info):
        out.append(".inf FileVersion %r, the DLL's file version is %s"
                   % (inf_value(file_section, "FileVersion"), comma_version(info)))
    else:
        original = info.strings.get("041203b5", {}).get("OriginalFilename", "")
        if original.lower() != dll_member.lower():
            out.append("the DLL calls itself %r, the package %r" % (original, dll_member))
    if (inf_value(file_section, "RegisterServer") or "").lower() != "yes":
        out.append("RegisterServer is %r, expected yes" % inf_value(file_section, "RegisterServer"))
    if (3, "DllRegisterServer") not in (pe.exports()[1] or []):
        out.append("the DLL does not export DllRegisterServer")
    return out


def cab_members(cab):
    rc, text = run(["gcab", "-t", cab])
    if rc != 0:
        fail("gcab cannot list %s: %s" % (cab, text.strip()))
        return None
    return text.split()


def extract_cab(cab, into):
    rc, text = run(["gcab", "-x", "-n", "-C", into, cab])
    return check(rc == 0, "gcab cannot extract %s: %s" % (cab, text.strip()))


def cmd_cabinet(args):
    members = cab_members(args.cab)
    if members is None:
        return
    check(sorted(members) == sorted([INF_NAME, DLL_NAME]),
          "the cabinet holds %r, expected %s and %s" % (members, INF_NAME, DLL_NAME))
    with open(args.cab, "rb") as f:
        check(f.read(4) == b"MSCF", "%s is not a cabinet" % args.cab)
    with tempfile.TemporaryDirectory() as tmp:
        if not extract_cab(args.cab, tmp):
            return
        packed_dll = os.path.join(tmp, DLL_NAME)
        packed_inf = os.path.join(tmp, INF_NAME)
        if not check(os.path.isfile(packed_dll) and os.path.isfile(packed_inf),
                     "extracting gave %r" % sorted(os.listdir(tmp))):
            return
        with open(packed_dll, "rb") as a, open(args.dll, "rb") as b:
            check(a.read() == b.read(), "the cabinet's DLL is not the built %s" % args.dll)
        with open(packed_inf, "rb") as a, open(args.inf, "rb") as b:
            inf_raw = a.read()
            check(inf_raw == b.read(), "the cabinet's .inf is not the generated %s" % args.inf)
        for p in package_problems(inf_raw, packed_dll, DLL_NAME):
            fail(p)

        # The checks above must bite: each of these faults has to be reported.
        faults = {
            "an older FileVersion": lambda s: re.sub(rb"FileVersion=[0-9,]+", b"FileVersion=1,15,3,8", s),
            "another CLSID": lambda s: s.replace(b"clsid={DA21C137", b"clsid={DA21C138"),
            "no file-win32-x86": lambda s: s.replace(b"file-win32-x86=thiscab", b"file-win32-x86="),
            "another file name": lambda s: s.replace(b"TavrineControl.DLL=TavrineControl.DLL",
                                                     b"Tavrine.DLL=TavrineControl.DLL"),
            "LF line ends": lambda s: s.replace(b"\r\n", b"\n"),
            "no self-registration": lambda s: s.replace(b"RegisterServer=yes", b"RegisterServer=no"),
        }
        for what, mutate in faults.items():
            bad = mutate(inf_raw)
            check(bad != inf_raw and package_problems(bad, packed_dll, DLL_NAME),
                  "an .inf with %s passes the package check" % what)


# --- signing ----------------------------------------------------------------------
def make_certificate(folder, name):
    """A throw-away self-signed code-signing certificate and its key, made for this run."""
    cert, key = os.path.join(folder, name + ".pem"), os.path.join(folder, name + ".key")
    rc, text = run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                    "-subj", "/CN=Tavrine deploy test %s" % name, "-keyout", key, "-out", cert,
                    "-addext", "extendedKeyUsage=codeSigning",
                    "-addext", "keyUsage=critical,digitalSignature"])
    if not check(rc == 0, "openssl cannot make a test certificate: %s" % text.strip()):
        return None, None
    return cert, key


def fake_build(folder, build, url, machine=None, dll=None):
    """A build tree holding the real DLL (or the given one) and .inf but an update address
    of our choosing, and optionally the DLL's machine field changed."""
    os.makedirs(folder)
    os.symlink(os.path.join(build, INF_NAME), os.path.join(folder, INF_NAME))
    if dll is not None:
        os.symlink(dll, os.path.join(folder, DLL_NAME))
    elif machine is None:
        os.symlink(os.path.join(build, DLL_NAME), os.path.join(folder, DLL_NAME))
    else:
        with open(os.path.join(build, DLL_NAME), "rb") as f:
            data = bytearray(f.read())
        struct.pack_into("<H", data, struct.unpack_from("<I", data, 0x3C)[0] + 4, machine)
        with open(os.path.join(folder, DLL_NAME), "wb") as f:
            f.write(data)
    with open(os.path.join(folder, "CMakeCache.txt"), "w") as f:
        f.write("TAVRINE_UPDATE_URL:STRING=%s\n" % url)
    return folder


def stand_in_dll(folder, name, locks, cc, rc):
    """A small 32-bit DLL that carries only the lock marker the control's build puts in its
    resources (BUILDLOCKS 1); locks None leaves the marker out."""
    src, res, dll = (os.path.join(folder, name + ext) for ext in (".c", ".rc", ".dll"))
    with open(src, "w") as f:
        f.write("int __stdcall DllMain(void *m, unsigned r, void *p) { return 1; }\n")
    objects = [src]
    if locks is not None:
        with open(res, "w") as f:
            f.write('LANGUAGE 0x12, 1\n1 BUILDLOCKS { "%s" }\n' % locks.replace("\n", "\\n"))
        rc_code, text = run([rc, "-O", "coff", "-i", res, "-o", res + ".o"])
        if not check(rc_code == 0, "the resource compiler failed on %s: %s" % (res, text.strip())):
            return None
        objects.append(res + ".o")
    cc_code, text = run([cc, "-shared", "-o", dll] + objects)
    if not check(cc_code == 0, "cannot build the stand-in DLL %s: %s" % (name, text.strip())):
        return None
    return dll


def check_lock_refusals(tmp, build, sign, cert, key, cc, rc):
    """A release must lock the site list and the setup publisher unless told it is unlocked;
    what counts is the marker in the DLL being signed."""
    pin = "ab" * 32
    cases = (  # name, marker, signed without --unlocked
        ("locked", "publisher=%s\nsites=https://www.tavrine.example\n" % pin, True),
        ("no-publisher", "publisher=\nsites=https://www.tavrine.example\n", False),
        ("no-sites", "publisher=%s\nsites=\n" % pin, False),
        ("neither", "publisher=\nsites=\n", False),
        ("no-marker", None, False),
    )
    for name, locks, allowed in cases:
        dll = stand_in_dll(tmp, name, locks, cc, rc)
        if not dll:
            continue
        tree = fake_build(os.path.join(tmp, "locks-" + name), build, "https://update.example.net", dll=dll)
        out = os.path.join(tmp, "locks-out-" + name)
        code, text = sign(tree, out, "--certs", cert, "--key", key)
        signed = code == 0 and os.path.exists(os.path.join(out, "TavrineControl.cab"))
        check(signed == allowed, "sign-package.sh %s a DLL with lock marker %r (exit %d): %s"
              % ("refused" if allowed else "signed", locks, code, text.strip()))
        if allowed:
            check("UNLOCKED" not in text, "a locked release is reported as unlocked: %s" % text.strip())
            continue
        code, text = sign(tree, out, "--certs", cert, "--key", key, "--unlocked")
        check(code == 0 and "UNLOCKED" in text,
              "sign-package.sh --unlocked did not sign the %s DLL as unlocked (exit %d): %s"
              % (name, code, text.strip()))


def verifies(path, cafile):
    rc, text = run(["osslsigncode", "verify", "-CAfile", cafile, "-in", path])
    return rc == 0 and "Signature verification: ok" in text, text


def cmd_signing(args):
    script = os.path.join(args.source, "deploy", "sign-package.sh")
    build = os.path.abspath(args.build)
    os.makedirs(os.path.join(build, "Testing"), exist_ok=True)
    with tempfile.TemporaryDirectory(prefix="deploy-signing.", dir=os.path.join(build, "Testing")) as tmp:
        cert, key = make_certificate(tmp, "signer")
        other, _ = make_certificate(tmp, "stranger")
        if not cert or not other:
            return
        https = fake_build(os.path.join(tmp, "https"), build, "https://update.example.net")

        def sign(tree, out, *extra):
            return run([script, "--build", tree, "--out", out] + list(extra))

        # A release must not point the control's updates at plain http, nor ship the 64-bit DLL.
        for what, tree in (("an http update address",
                            fake_build(os.path.join(tmp, "http"), build, "http://update.example.net")),
                           ("a 64-bit build",
                            fake_build(os.path.join(tmp, "x64"), build, "https://update.example.net", 0x8664))):
            out = os.path.join(tmp, "refused-" + os.path.basename(tree))
            rc, text = sign(tree, out, "--certs", cert, "--key", key, "--unlocked")
            check(rc != 0 and not os.path.exists(os.path.join(out, "TavrineControl.cab")),
                  "sign-package.sh signed %s (exit %d): %s" % (what, rc, text.strip()))

        # PEM certificate and key; the script's own verification against the right certificate.
        out = os.path.join(tmp, "pem")
        rc, text = sign(https, out, "--certs", cert, "--key", key, "--cafile", cert, "--unlocked")
        if check(rc == 0, "sign-package.sh with a PEM key failed (exit %d): %s" % (rc, text.strip())):
            check_signed(out, cert, other, tmp)

        # PKCS#12 with a password read from a file; the test build's own http address allowed.
        pfx, pw = os.path.join(tmp, "signer.pfx"), os.path.join(tmp, "password")
        with open(pw, "w") as f:
            f.write("throw-away pass\n")
        rc, text = run(["openssl", "pkcs12", "-export", "-in", cert, "-inkey", key, "-out", pfx,
                        "-passout", "file:" + pw])
        if check(rc == 0, "openssl cannot make a PKCS#12 file: %s" % text.strip()):
            out = os.path.join(tmp, "pfx")
            rc, text = sign(build, out, "--pkcs12", pfx, "--pass-file", pw, "--allow-http", "--unlocked")
            if check(rc == 0, "sign-package.sh with a PKCS#12 key failed (exit %d): %s" % (rc, text.strip())):
                check_signed(out, cert, other, tmp)
            rc, text = sign(build, os.path.join(tmp, "nopass"), "--pkcs12", pfx, "--allow-http", "--unlocked")
            check(rc != 0, "sign-package.sh signed with a PKCS#12 key without its password")

        check_lock_refusals(tmp, build, sign, cert, key, args.cc, args.rc)

        # The script's verification must reject a signature from a certificate it was not given.
        rc, text = sign(https, os.path.join(tmp, "wrongca"), "--certs", cert, "--key", key, "--cafile", other,
                        "--unlocked")
        check(rc != 0, "sign-package.sh accepted signatures that do not verify against --cafile")

    check_no_key_material(args.source)


def check_signed(out, cert, other, tmp):
    dll, cab = os.path.join(out, DLL_NAME), os.path.join(out, "TavrineControl.cab")
    for path in (dll, cab):
        good, text = verifies(path, cert)
        check(good, "osslsigncode verify rejects %s:\n%s" % (path, text))
        good, _ = verifies(path, other)
        check(not good, "%s verifies against a certificate that did not sign it" % path)
    # The browser unpacks the DLL and registers it: the one inside must carry the signature too.
    inside = os.path.join(out, "unpacked")
    os.makedirs(inside)
    if extract_cab(cab, inside):
        with open(os.path.join(inside, DLL_NAME), "rb") as a, open(dll, "rb") as b:
            check(a.read() == b.read(), "the signed cabinet does not hold the signed DLL")
        packed_inf = os.path.join(inside, INF_NAME)
        with open(packed_inf, "rb") as f:
            for p in package_problems(f.read(), os.path.join(inside, DLL_NAME), DLL_NAME):
                fail("signed package: " + p)
    # A changed byte in the signed code must break the signature.
    with open(dll, "rb") as f:
        data = bytearray(f.read())
    pe = PEFile(dll)
    text_off = next(raw for name, _, _, raw, size in pe.sections if name == ".text" and size)
    data[text_off + 64] ^= 0xFF
    tampered = os.path.join(tmp, "tampered.DLL")
    with open(tampered, "wb") as f:
        f.write(data)
    good, _ = verifies(tampered, cert)
    check(not good, "a DLL changed after signing still verifies")
    os.remove(tampered)


KEY_SUFFIXES = (".pem", ".key", ".pfx", ".p12", ".spc", ".pvk", ".cer", ".crt", ".der")
# PEM armour, split so that this file does not match itself.
PEM_MARKERS = (b"PRIVATE KEY" + b"-----", b"BEGIN CERTIFICATE" + b"-----")


def check_no_key_material(source):
    """Certificates and keys belong to the deployer, never to the repository."""
    rc, text = run(["git", "-C", source, "ls-files", "-z"])
    if rc == 0:
        files = [f for f in text.split("\0") if f]
    else:
        files = []
        for root, dirs, names in os.walk(source):
            dirs[:] = [d for d in dirs if d not in (".git", "build")]
            files += [os.path.relpath(os.path.join(root, n), source) for n in names]
    for name in files:
        if name.lower().endswith(KEY_SUFFIXES):
            fail("the repository holds %s, which looks like a key or certificate" % name)
            continue
        try:
            with open(os.path.join(source, name), "rb") as f:
                head = f.read(1 << 20)
        except OSError:
            continue
        if any(marker in head for marker in PEM_MARKERS):
            fail("the repository holds key material in %s" % name)


# --- the bridge's release -----------------------------------------------------------
def chrome_id(der):
    return "".join(chr(ord("a") + int(c, 16)) for c in hashlib.sha256(der).hexdigest()[:32])


def public_der(key):
    p = subprocess.run(["openssl", "pkey", "-in", key, "-pubout", "-outform", "DER"], capture_output=True,
                       timeout=TIMEOUT)
    return p.stdout if p.returncode == 0 else b""


def zip_manifest(path):
    """The manifest.json at the root of a zip (or of a CRX's archive, given as bytes), and the names."""
    import io
    source = io.BytesIO(path) if isinstance(path, bytes) else path
    with zipfile.ZipFile(source) as z:
        names = sorted(z.namelist())
        return json.loads(z.read("manifest.json").decode("utf-8")), names


def check_release(out, build, version, ext_key, cert, other):
    """Every artefact of a release against the build it came from."""
    sys.path.insert(0, os.path.join(SOURCE, "deploy"))
    import importlib
    release = importlib.import_module("release-bridge")
    dotted = "%d.%d.%d.%d" % version
    built = os.path.join(build, "extension")
    with open(os.path.join(built, "chrome", "manifest.json"), encoding="utf-8") as f:
        chrome = json.load(f)
    with open(os.path.join(built, "firefox", "manifest.json"), encoding="utf-8") as f:
        firefox = json.load(f)
    ext_id = chrome_id(public_der(ext_key))
    check(ext_id == chrome_id(base64_decode(chrome.get("key", ""))),
          "the build's manifest key does not give the ID of the build's extension key %s" % ext_id)
    crx_name, store_name, xpi_name = ("tavrine-%s%s" % (dotted, s) for s in (".crx", "-store.zip", ".xpi"))
    expected = sorted(["TavrineBridge.exe", crx_name, "updates.xml", store_name, xpi_name, "listing.txt"])
    check(sorted(os.listdir(out)) == expected, "the release holds %r, expected %r" % (sorted(os.listdir(out)), expected))

    host = os.path.join(out, "TavrineBridge.exe")
    if os.path.exists(host):
        good, text = verifies(host, cert)
        check(good, "osslsigncode verify rejects the released host:\n%s" % text)
        check(not verifies(host, other)[0], "the released host verifies against a certificate that did not sign it")
        info = PEFile(host).version_info()
        f = info.fixed if info else {}
        check(info is not None and (f["file_ms"] >> 16, f["file_ms"] & 0xFFFF, f["file_ls"] >> 16,
                                    f["file_ls"] & 0xFFFF) == version,
              "the released host's version is not %s" % dotted)

    crx = os.path.join(out, crx_name)
    if os.path.exists(crx):
        packed_id, archive = release.crx_identity(crx)
        check(packed_id == ext_id, "the CRX says it is %s, the extension key gives %s" % (packed_id, ext_id))
        manifest, names = zip_manifest(archive)
        check(manifest.get("version") == dotted and manifest.get("key") == chrome.get("key"),
              "the CRX's manifest: version %r, key %s" % (manifest.get("version"),
                                                          "the build's" if manifest.get("key") == chrome.get("key") else "another"))
    updates = os.path.join(out, "updates.xml")
    if os.path.exists(updates):
        ns = "{http://www.google.com/update2/response}"
        apps = ET.parse(updates).getroot().findall(ns + "app")
        checks = [(a.get("appid"), u.get("version"), u.get("codebase")) for a in apps for u in a.findall(ns + "updatecheck")]
        check(len(checks) == 1 and checks[0][:2] == (ext_id, dotted) and checks[0][2].endswith("/" + crx_name),
              "updates.xml states %r, expected %s %s .../%s" % (checks, ext_id, dotted, crx_name))
    store = os.path.join(out, store_name)
    if os.path.exists(store):
        manifest, names = zip_manifest(store)
        check("key" not in manifest and manifest.get("version") == dotted,
              "the store upload's manifest: version %r, key %s" % (manifest.get("version"), "key" in manifest))
        check(names == sorted(os.listdir(os.path.join(built, "chrome"))),
              "the store upload holds %r, the chrome build %r" % (names, sorted(os.listdir(os.path.join(built, "chrome")))))
    xpi = os.path.join(out, xpi_name)
    if os.path.exists(xpi):
        manifest, names = zip_manifest(xpi)
        gecko = manifest.get("browser_specific_settings", {}).get("gecko", {}).get("id")
        check(manifest.get("version") == dotted and gecko and gecko == firefox["browser_specific_settings"]["gecko"]["id"],
              "the .xpi's manifest: version %r, add-on ID %r" % (manifest.get("version"), gecko))

    # The listing names each file once, with its size and digest.
    listed = {}
    with open(os.path.join(out, "listing.txt"), encoding="utf-8") as f:
        for line in f:
            name, size, digest = line.split()
            listed[name] = (int(size), digest)
    for name in expected:
        if name == "listing.txt" or not os.path.exists(os.path.join(out, name)):
            continue
        with open(os.path.join(out, name), "rb") as f:
            body = f.read()
        check(listed.get(name) == (len(body), hashlib.sha256(body).hexdigest()),
              "listing.txt gives %s as %r, it is %d bytes, %s" % (name, listed.get(name), len(body),
                                                                   hashlib.sha256(body).hexdigest()))
        check(PEM_MARKERS[0] not in body, "%s holds a private key" % name)
    return ext_id


def base64_decode(text):
    import base64
    try:
        return base64.b64decode(text)
    except ValueError:
        return b""


def cmd_release(args):
    script = os.path.join(args.source, "deploy", "release-bridge.py")
    build = os.path.abspath(args.build)
    version = project_version(os.path.join(args.source, "CMakeLists.txt"))
    os.makedirs(os.path.join(build, "Testing"), exist_ok=True)
    with tempfile.TemporaryDirectory(prefix="deploy-release.", dir=os.path.join(build, "Testing")) as tmp:
        cert, key = make_certificate(tmp, "signer")
        other, other_key = make_certificate(tmp, "stranger")
        if not cert or not other:
            return
        stranger_ext = os.path.join(tmp, "stranger-extension.pem")
        run(["openssl", "genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-out", stranger_ext])

        def release(out, *extra, ext_key=args.extension_key):
            return run([sys.executable, script, "--build", build, "--out", out, "--certs", cert, "--key", key,
                        "--extension-key", ext_key, "--serve-url", "http://127.0.0.1:9/tavrine"] + list(extra))

        out = os.path.join(tmp, "release")
        rc, text = release(out, "--allow-http", "--unlocked", "--cafile", cert)
        print(text.strip())
        if check(rc == 0, "release-bridge.py failed (exit %d): %s" % (rc, text.strip())):
            ext_id = check_release(out, build, version, args.extension_key, cert, other)
            check("%s;http://127.0.0.1:9/tavrine/updates.xml" % ext_id in text,
                  "the release does not print the ExtensionInstallForcelist value")

        # Refusals: nothing is written for any of them.
        for what, extra, ext_key in (
                ("an http update address", ("--unlocked",), args.extension_key),
                ("an unlocked host", ("--allow-http",), args.extension_key),
                ("another extension key than the build's", ("--allow-http", "--unlocked"), stranger_ext),
                ("a signature that does not verify", ("--allow-http", "--unlocked", "--cafile", other),
                 args.extension_key)):
            refused = os.path.join(tmp, "refused")
            shutil.rmtree(refused, ignore_errors=True)
            rc, text = release(refused, *extra, ext_key=ext_key)
            check(rc != 0 and not os.listdir(refused) if os.path.isdir(refused) else rc != 0,
                  "release-bridge.py released %s (exit %d): %s" % (what, rc, text.strip()))


# --- the sample page -------------------------------------------------------------
class PageParser(html.parser.HTMLParser):
    """The parts of a page that meet the control: object tags, script blocks and the
    script in on* attributes."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.objects, self.scripts, self.attribute_code = [], [], []
        self._script = None

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag == "object":
            self.objects.append(attrs)
        elif tag == "script":
            self._script = {"attrs": attrs, "body": "", "line": self.getpos()[0]}
        self.attribute_code += [(self.getpos()[0], v or "") for k, v in attrs.items() if k.startswith("on")]

    def handle_data(self, data):
        if self._script is not None:
            self._script["body"] += data

    def handle_endtag(self, tag):
        if tag == "script" and self._script is not None:
            self.scripts.append(self._script)
            self._script = None


def control_events(idl_path):
    """{event name: parameter count} of the control's event interface."""
    with open(idl_path, encoding="utf-8") as f:
        text = f.read()
    block = re.search(r"dispinterface\s+_IVedADAEvents\s*\{(.*?)\};", text, re.S)
    events = {}
    for name, params in re.findall(r"\]\s*void\s+(\w+)\s*\(([^)]*)\)", block.group(1) if block else ""):
        events[name] = len([p for p in params.split(",") if p.strip()])
    return events


def script_functions(code):
    """{name: parameter count} of the functions a script declares at its top level."""
    return {name: len([p for p in params.split(",") if p.strip()])
            for name, params in re.findall(r"^function\s+(\w+)\s*\(([^)]*)\)", code, re.M)}


def code_only(script):
    """Script without its comments and string literals, which may hold anything."""
    return re.sub(r'"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'|/\*.*?\*/|//[^\n]*', '""', script, flags=re.S)


JS_WORDS = {"if", "for", "while", "switch", "catch", "function", "return", "typeof", "new"}
BROWSER_FUNCTIONS = {"alert", "parseInt", "String", "Number", "encodeURIComponent"}


def page_problems(page_html, page_js, events, clsid, version):
    out = []
    parser = PageParser()
    parser.feed(page_html)
    parser.close()

    objects = [o for o in parser.objects if o.get("id") == "control"]
    if len(objects) != 1:
        return ["%d object tags with id \"control\", expected 1" % len(objects)]
    if (objects[0].get("classid") or "").upper() != "CLSID:" + clsid.strip("{}").upper():
        out.append("the object tag's classid is %r, the control's CLSID is %s" % (objects[0].get("classid"), clsid))
    codebase = "TavrineControl.cab#version=" + version
    if objects[0].get("codebase") != codebase:
        out.append("the object tag's codebase is %r, expected %r" % (objects[0].get("codebase"), codebase))

    js_functions = script_functions(page_js)
    if [s for s in parser.scripts if s["attrs"].get("src") == "page.js"] == []:
        out.append("the page does not load page.js")

    # Event blocks: each calls page.js's control_<event> with the event's own arguments.
    bound = {}
    for s in (s for s in parser.scripts if "for" in s["attrs"]):
        m = re.fullmatch(r"\s*(\w+)\s*\(([^)]*)\)\s*", s["attrs"].get("event") or "")
        if s["attrs"]["for"] != "control" or not m:
            out.append("line %d: script for=%r event=%r binds nothing of the control"
                       % (s["line"], s["attrs"]["for"], s["attrs"].get("event")))
            continue
        name, params = m.group(1), [p.strip() for p in m.group(2).split(",") if p.strip()]
        bound[name] = bound.get(name, 0) + 1
        if name not in events:
            out.append("line %d: the control has no event %s" % (s["line"], name))
        elif len(params) != events[name]:
            out.append("line %d: %s is bound with %d arguments, the control sends %d"
                       % (s["line"], name, len(params), events[name]))
        # The handler first, as the page host calls it; anything after it is page display.
        call = "control_%s(%s)" % (name, ", ".join(params))
        first = re.split(r"[;\n]", s["body"].strip(), maxsplit=1)[0]
        if re.sub(r"\s+", " ", first).strip() != call:
            out.append("line %d: the %s block does not start with %s" % (s["line"], name, call))
        if js_functions.get("control_" + name) != len(params):
            out.append("page.js has no handler control_%s taking %d arguments" % (name, len(params)))
    for name in events:
        if bound.get(name) != 1:
            out.append("the page binds %s %d times, expected once" % (name, bound.get(name, 0)))

    # All of the page's own script: glue that reaches the control only through page.js.
    inline = [(s["line"], s["body"]) for s in parser.scripts if not s["attrs"].get("src")]
    inline += parser.attribute_code
    own = {}
    for _, code in inline:
        own.update(script_functions(code))
    for name in sorted(set(own) & set(js_functions)):
        out.append("the page defines %s itself, hiding page.js's" % name)
    for line, code in inline:
        code = code_only(code)
        if re.search(r"\bcontrol\s*[.\[]", code):
            out.append("line %d: the page calls the control directly, not through page.js" % line)
        for name in re.findall(r"(?<![\w.$])([A-Za-z_$][\w$]*)\s*\(", code):
            if name not in JS_WORDS | BROWSER_FUNCTIONS and name not in own and name not in js_functions:
                out.append("line %d: %s() is defined neither in the page nor in page.js" % (line, name))
    return out


def cmd_page(args):
    examples = os.path.join(args.source, "examples")
    with open(os.path.join(examples, "upload.html"), encoding="utf-8") as f:
        page_html = f.read()
    with open(os.path.join(examples, "page.js"), encoding="utf-8") as f:
        page_js = f.read()
    events = control_events(os.path.join(args.source, "resources", "TavrineControl.idl"))
    if not check(set(events) == {"InstallCompleteEvent", "UpSelectComplete"},
                 "the interface definition's events are %r" % sorted(events)):
        return
    clsids = dll_clsids(PEFile(args.dll))
    if not check(len(clsids) == 1, "the DLL registers %r, expected one CLSID" % sorted(clsids)):
        return
    clsid = clsids.pop()
    version = project_version(os.path.join(args.source, "CMakeLists.txt"))
    if not check(version is not None, "no project version in CMakeLists.txt"):
        return
    commas = "%d,%d,%d,%d" % version
    for p in page_problems(page_html, page_js, events, clsid, commas):
        fail("upload.html: " + p)

    # The checks above must bite: each of these drifts has to be reported.
    drifts = {
        "a renamed handler in page.js": (page_html, page_js.replace("function control_UpSelectComplete(",
                                                                    "function onUpSelectComplete(")),
        "a handler that lost an argument": (page_html, page_js.replace("control_UpSelectComplete(strPath, strSize, strMode)",
                                                                       "control_UpSelectComplete(strPath, strSize)")),
        "a button calling a function page.js lost": (page_html, page_js.replace("function pickFiles(",
                                                                                "function pickFilesNow(")),
        "an unbound event": (re.sub(r'<script[^>]*event="InstallCompleteEvent\(\)">.*?</script>', "", page_html,
                                    flags=re.S), page_js),
        "another CLSID": (page_html.replace("clsid:DA21C137", "clsid:DA21C138"), page_js),
        "an older codebase version": (page_html.replace("#version=" + commas, "#version=1,0,0,1"), page_js),
        "a direct control call": (page_html.replace("allowPopUps(location.hostname);",
                                                    "control.AllowPopUp(location.hostname);"), page_js),
    }
    for what, (bad_html, bad_js) in drifts.items():
        check((bad_html, bad_js) != (page_html, page_js) and page_problems(bad_html, bad_js, events, clsid, commas),
              "a page with %s passes the page check" % what)


# --- one version ------------------------------------------------------------------
def project_version(cmakelists):
    with open(cmakelists, encoding="utf-8") as f:
        m = re.search(r"project\s*\(\s*TavrineControl\s+VERSION\s+(\d+)\.(\d+)\.(\d+)\.(\d+)", f.read())
    return tuple(int(x) for x in m.groups()) if m else None


def cmd_version(args):
    version = project_version(os.path.join(args.source, "CMakeLists.txt"))
    if not check(version is not None, "no 'project(TavrineControl VERSION a.b.c.d' in CMakeLists.txt"):
        return
    dotted, commas = "%d.%d.%d.%d" % version, "%d,%d,%d,%d" % version

    info = PEFile(args.dll).version_info()
    if check(info is not None, "%s has no version resource" % args.dll):
        f = info.fixed
        for what, ms, ls in (("file", f.get("file_ms"), f.get("file_ls")),
                             ("product", f.get("product_ms"), f.get("product_ls"))):
            got = (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF) if ms is not None else None
            check(got == version, "the DLL's %s version is %r, CMake says %s" % (what, got, dotted))
        for key in ("FileVersion", "ProductVersion"):
            for block, strings in info.strings.items():
                check(strings.get(key) == dotted, "the DLL's %s string (%s) is %r, CMake says %s"
                      % (key, block, strings.get(key), dotted))

    if args.bridge:
        info = PEFile(args.bridge).version_info()
        if check(info is not None, "%s has no version resource" % args.bridge):
            f = info.fixed
            got = (f["file_ms"] >> 16, f["file_ms"] & 0xFFFF, f["file_ls"] >> 16, f["file_ls"] & 0xFFFF)
            check(got == version, "the host's file version is %r, CMake says %s" % (got, dotted))
            for block, strings in info.strings.items():
                for key in ("FileVersion", "ProductVersion"):
                    check(strings.get(key) == dotted, "the host's %s string (%s) is %r, CMake says %s"
                          % (key, block, strings.get(key), dotted))
    if args.extension:
        for kind in ("chrome", "firefox"):
            with open(os.path.join(args.extension, kind, "manifest.json"), encoding="utf-8") as fh:
                stated = json.load(fh).get("version")
            check(stated == dotted, "the %s extension's version is %r, CMake says %s" % (kind, stated, dotted))

    if args.inf:
        with open(args.inf, "rb") as fh:
            raw = fh.read()
        versions = re.findall(rb"FileVersion=(\S+)", raw)
        check(versions == [commas.encode()], "the .inf gives FileVersion %r, CMake says %s" % (versions, commas))
        check(dotted.encode() in raw, "the .inf's header does not name version %s" % dotted)

    # Hand-written files that state the version: every codebase "#version=", .inf excerpt
    # and project() line in them.
    patterns = ((r"#version=([0-9,]+)", commas), (r"FileVersion=([0-9,]+)", commas),
                (r"\bVERSION\s+(\d+\.\d+\.\d+\.\d+)", dotted))
    stated = 0
    for name in ("README.md", os.path.join("docs", "page.md"), os.path.join("docs", "deploying.md"),
                 os.path.join("examples", "upload.html")):
        path = os.path.join(args.source, name)
        if not os.path.exists(path):
            check(name != "README.md", "README.md is missing")
            continue
        with open(path, encoding="utf-8") as fh:
            for number, line in enumerate(fh, 1):
                for pattern, want in patterns:
                    for found in re.findall(pattern, line):
                        stated += 1
                        check(found == want, "%s:%d gives %s, CMake says %s" % (name, number, found, want))
    check(stated > 0, "neither the docs nor the sample page state the codebase version")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    sub = parser.add_subparsers(dest="command", required=True)
    p = sub.add_parser("cabinet")
    p.add_argument("--cab", required=True)
    p.add_argument("--dll", required=True)
    p.add_argument("--inf", required=True)
    p = sub.add_parser("signing")
    p.add_argument("--build", required=True)
    p.add_argument("--source", default=SOURCE)
    p.add_argument("--cc", default="i686-w64-mingw32-gcc", help="C compiler for the stand-in DLLs")
    p.add_argument("--rc", default="i686-w64-mingw32-windres", help="resource compiler for them")
    p = sub.add_parser("page")
    p.add_argument("--source", default=SOURCE)
    p.add_argument("--dll", required=True)
    p = sub.add_parser("version")
    p.add_argument("--source", default=SOURCE)
    p.add_argument("--dll", required=True)
    p.add_argument("--inf")
    p.add_argument("--bridge")
    p.add_argument("--extension")
    p = sub.add_parser("release")
    p.add_argument("--build", required=True)
    p.add_argument("--source", default=SOURCE)
    p.add_argument("--extension-key", required=True)
    args = parser.parse_args()
    try:
        {"cabinet": cmd_cabinet, "signing": cmd_signing, "page": cmd_page,
         "version": cmd_version, "release": cmd_release}[args.command](args)
    except (OSError, PEError, struct.error) as e:
        fail("%s: %s" % (type(e).__name__, e))
    if problems:
        print("deploycheck %s: %d problem(s)" % (args.command, len(problems)))
        return 1
    print("deploycheck %s: passed" % args.command)
    return 0


if __name__ == "__main__":
    sys.exit(main())
