#!/usr/bin/env python3
"""Signed and unsigned copies of the setup fixture for the verified-setup tests, made at
test time with the keys of tools/make-test-publisher.sh (never committed).

    sign_setups.py --fixture SETUP.exe --keys DIR --www DIR --out DIR --pin HEX[,HEX...]

Each copy carries the same script (tests/install/SetupFixture.cpp): install VERSION as
the installed version file, write "1" as the result, log its run under the server root.
  unsigned.exe   no signature
  pinned.exe     signed with the publisher key the build pins
  stranger.exe   signed with another key
  tampered.exe   pinned.exe with one byte of its code changed after signing
  padded.exe     pinned.exe with bytes added inside its certificate table, after the
                 signature (the table's directory entry and the entry's length grown)
  appended.exe   pinned.exe with bytes added after its certificate table
Fails when the publisher key's pin is not the one the build was configured with.
"""
import argparse
import os
import struct
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from pecheck import PEFile  # noqa: E402

MARKER = b"\n@@tavrine-setup-script@@\n"
VERSION = b"[Version]\r\nver=signed-9\r\n"


def run(args):
    p = subprocess.run(args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                       timeout=120)
    if p.returncode != 0:
        sys.exit("sign_setups: %s failed: %s" % (args[0], p.stdout.decode("utf-8", "replace")))
    return p.stdout


def main():
    ap = argparse.ArgumentParser()
    for name in ("fixture", "keys", "www", "out", "pin"):
        ap.add_argument("--" + name, required=True)
    args = ap.parse_args()

    pin = run(["sh", "-c", 'openssl x509 -in "$1" -pubkey -noout | openssl pkey -pubin -outform DER | '
               'openssl dgst -sha256 -r', "sh", os.path.join(args.keys, "publisher.pem")]).split()[0].decode()
    if pin.lower() not in [p.strip().lower() for p in args.pin.replace(";", ",").split(",")]:
        sys.exit("sign_setups: the key in %s has pin %s, but the build pins %s" % (args.keys, pin, args.pin))

    os.makedirs(args.out, exist_ok=True)
    log = "Z:" + os.path.join(os.path.abspath(args.www), "_setup_runs.log").replace("/", "\\")
    script = b"mode=normal\nversion=%s\nresult=%s\ndelay=0\nlog=%s\n" % (
        VERSION.hex().encode(), b"1".hex().encode(), log.encode())
    with open(args.fixture, "rb") as f:
        unsigned = f.read() + MARKER + script
    path = {name: os.path.join(args.out, name + ".exe") for name in ("unsigned", "pinned", "stranger", "tampered")}
    with open(path["unsigned"], "wb") as f:
        f.write(unsigned)

    for name, key in (("pinned", "publisher"), ("stranger", "stranger")):
        if os.path.exists(path[name]):
            os.remove(path[name])
        run(["osslsigncode", "sign", "-certs", os.path.join(args.keys, key + ".pem"),
             "-key", os.path.join(args.keys, key + ".key"), "-h", "sha256", "-n", "Tavrine setup test",
             "-in", path["unsigned"], "-out", path[name]])

    with open(path["pinned"], "rb") as f:
        data = bytearray(f.read())
    pe = PEFile(path["pinned"])
    code = next(raw for name, _, _, raw, size in pe.sections if name == ".text" and size)
    data[code + 64] ^= 0xFF
    with open(path["tampered"], "wb") as f:
        f.write(data)

    # Bytes the signature does not cover: the certificate table is not hashed.
    payload = b"not covered by the signature...."
    with open(path["pinned"], "rb") as f:
        signed = bytearray(f.read())
    pe_at = struct.unpack_from("<I", signed, 0x3C)[0]
    opt = pe_at + 24
    dirs = opt + (96 if struct.unpack_from("<H", signed, opt)[0] == 0x10B else 112)
    table_at, table_size = struct.unpack_from("<II", signed, dirs + 8 * 4)
    if table_at + table_size != len(signed):
        sys.exit("sign_setups: the signed copy does not end with its certificate table")
    padded = bytearray(signed)
    struct.pack_into("<I", padded, dirs + 8 * 4 + 4, table_size + len(payload))
    entry_length = struct.unpack_from("<I", padded, table_at)[0]
    struct.pack_into("<I", padded, table_at, entry_length + len(payload))
    path["padded"] = os.path.join(args.out, "padded.exe")
    path["appended"] = os.path.join(args.out, "appended.exe")
    with open(path["padded"], "wb") as f:
        f.write(bytes(padded) + payload)
    with open(path["appended"], "wb") as f:
        f.write(bytes(signed) + payload)
    print("sign_setups: %s" % ", ".join(sorted(path)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
