#!/usr/bin/env python3
"""Shows that the shipped-file check notices each fault it is there for: the built DLL
passes as it is, and a copy with one fault put in (hardening flag cleared, header version
changed, writable code, relocations dropped, an import newer than the minimum or unknown)
fails with the matching problem. With --host, the same for TavrineBridge.exe, and faults of
its manifest and version resource besides.

usage: pecheck_faults.py --machine M --version V --min-windows X.Y [--host] FILE
"""
import argparse
import os
import struct
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools"))
import pecheck  # noqa: E402


def optional_header(data):
    return struct.unpack_from("<I", data, 0x3C)[0] + 24


def set_u16(data, off, value):
    struct.pack_into("<H", data, off, value)


def clear_flag(bit):
    def apply(data, pe):
        off = optional_header(data) + 70
        set_u16(data, off, struct.unpack_from("<H", data, off)[0] & ~bit)
    return apply


def set_version(field_offset, major, minor):
    def apply(data, pe):
        struct.pack_into("<HH", data, optional_header(data) + field_offset, major, minor)
    return apply


def section_header(data, wanted):
    pe_at = struct.unpack_from("<I", data, 0x3C)[0]
    nsections, = struct.unpack_from("<H", data, pe_at + 6)
    optsize, = struct.unpack_from("<H", data, pe_at + 20)
    first = pe_at + 24 + optsize
    for i in range(nsections):
        if data[first + 40 * i:first + 40 * i + 8].rstrip(b"\0") == wanted:
            return first + 40 * i
    raise AssertionError("no section %r" % wanted)


def make_text_writable(data, pe):
    at = section_header(data, b".text") + 36
    struct.pack_into("<I", data, at, struct.unpack_from("<I", data, at)[0] | pecheck.SCN_MEM_WRITE)


def drop_relocations(data, pe):
    dirs = optional_header(data) + (112 if pe.is64 else 96)
    struct.pack_into("<II", data, dirs + 8 * 5, 0, 0)
    data[section_header(data, b".reloc"):section_header(data, b".reloc") + 8] = b".nore\0\0\0"


def import_name_offset(pe, wanted):
    """File offset of an imported function's name in the import table."""
    width, top = (8, 1 << 63) if pe.is64 else (4, 1 << 31)
    desc_at = pe.offset(pe.directory(1)[0])
    while any(struct.unpack_from("<IIIII", pe.data, desc_at)):
        lookup, _, _, _, iat = struct.unpack_from("<IIIII", pe.data, desc_at)
        at = pe.offset(lookup or iat)
        while True:
            value = int.from_bytes(pe.data[at:at + width], "little")
            if not value:
                break
            if not value & top and pe.cstring((value & 0x7FFFFFFF) + 2) == wanted:
                return pe.offset((value & 0x7FFFFFFF) + 2)
            at += width
        desc_at += 20
    raise AssertionError("the DLL does not import %s" % wanted)


def rename_import(old, new):
    assert len(old) == len(new)

    def apply(data, pe):
        at = import_name_offset(pe, old)
        data[at:at + len(old)] = new.encode()
    return apply


def replace_bytes(old, new):
    """A same-length change inside the file (the manifest is stored as it is written)."""
    assert len(old) == len(new)

    def apply(data, pe):
        at = data.find(old)
        assert at >= 0, "no %r in the file" % old
        data[at:at + len(old)] = new
    return apply


def set_file_type(value):
    def apply(data, pe):
        at = data.find(struct.pack("<I", 0xFEEF04BD))
        assert at >= 0, "no fixed file info"
        struct.pack_into("<I", data, at + 36, value)
    return apply


HOST_FAULTS = [
    ("an elevated manifest", replace_bytes(b'asInvoker" uiAccess="false"', b'highestAvailable"          '),
     "execution level"),
    ("old common controls", replace_bytes(b'version="6.0.0.0"', b'version="5.8.0.0"'), "Common Controls 6"),
    ("system DPI awareness first", replace_bytes(b"PerMonitorV2, PerMonitor", b"PerMonitor, PerMonitorV2"),
     "dpiAwareness"),
    ("Windows 10 not declared", replace_bytes(b"{8e0f7a12-", b"{8e0f7a13-"), "Windows 10 and 11"),
    ("a broken manifest", replace_bytes(b"</assembly>", b"</assembly "), "not well-formed"),
    ("a DLL's version resource", set_file_type(2), "file type is 2, expected 1"),
]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--machine", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--min-windows", required=True)
    parser.add_argument("--host", action="store_true")
    parser.add_argument("dll")
    args = parser.parse_args()
    minimum = tuple(int(p) for p in args.min_windows.split("."))
    original = open(args.dll, "rb").read()
    pe = pecheck.PEFile(args.dll)

    faults = [
        ("ASLR off", clear_flag(pecheck.DYNAMIC_BASE), "lacks DYNAMIC_BASE"),
        ("DEP off", clear_flag(pecheck.NX_COMPAT), "lacks NX_COMPAT"),
        ("OS version 4.0", set_version(40, 4, 0), "header OS version is 4.0"),
        ("subsystem version 6.0", set_version(48, 6, 0), "header subsystem version is 6.0"),
        ("writable code", make_text_writable, "section .text is both writable and executable"),
        ("relocations dropped", drop_relocations, "no base relocations"),
        # Same length as the name it replaces, so the import table stays intact.
        ("a Vista import", rename_import("RegSetValueExA", "RegDeleteTreeA"), "which needs Windows 6.0"),
        ("an unknown import", rename_import("RegCloseKey", "RegCloseKez"), "has no known minimum Windows"),
    ]
    if args.host:
        faults += HOST_FAULTS
    if pe.is64:
        faults.append(("high-entropy ASLR off", clear_flag(pecheck.HIGH_ENTROPY_VA), "lacks HIGH_ENTROPY_VA"))

    failures = 0
    with tempfile.TemporaryDirectory() as work:
        def check(data):
            path = os.path.join(work, os.path.basename(args.dll))
            with open(path, "wb") as f:
                f.write(data)
            check_file = pecheck.check_host if args.host else pecheck.check_control
            return check_file(path, args.machine, args.version, minimum)

        problems = check(original)
        if problems:
            print("FAIL: the built file itself: %s" % problems)
            failures += 1
        for name, apply, expected in faults:
            data = bytearray(original)
            apply(data, pe)
            problems = check(bytes(data))
            if not any(expected in p for p in problems):
                print("FAIL: %s: expected a problem with %r, got %r" % (name, expected, problems))
                failures += 1
    print("pecheck_faults: %d of %d cases failed" % (failures, len(faults) + 1))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
