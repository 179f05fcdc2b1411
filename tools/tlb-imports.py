#!/usr/bin/env python3
"""Mends the import table of a type library written by the cross toolchain's
interface compiler, and checks the library's own GUID.

The library's types must stand in the order _IVedADAEvents, VedADA, IVedADA:
clients that walk the library by index see that order. Written in that order,
the compiler names stdole2's IDispatch twice: once for the dispinterface's base
(a proper import entry with IDispatch's GUID) and once for IVedADA's base, an
entry flagged "by GUID" whose GUID offset is -1. Readers then resolve IVedADA's
base to whatever that offset yields (stdole2's first type), so the dual
interface loses its IDispatch slots and cannot be marshalled; and the compiler,
filling in that entry's GUID record at offset -1, writes over the last byte of
the library's own GUID. Declaring IVedADA first avoids both, but changes the
order; no declaration order or attribute gives both, so the file is mended here.

What is mended, and nothing else: every import entry flagged "by GUID" with no
GUID, of the same imported library and kind as the one proper IDispatch entry,
is pointed at IDispatch's GUID; the last byte of the library GUID is restored
when the first fifteen match the expected LIBID. Anything else unexpected fails
the build.

usage: tlb-imports.py FILE.tlb {LIBID}
"""
import struct
import sys
import uuid

IID_IDISPATCH = uuid.UUID("00020400-0000-0000-C000-000000000046")
IMPINFO_BY_GUID = 0x01
GUID_ENTRY = 24     # GUID, hreftype, next in hash chain
IMPINFO_ENTRY = 12  # count:16, flags:8, kind:8, import file offset, GUID offset


def fail(path, text):
    sys.exit(f"{path}: {text}")


def main():
    path, expected = sys.argv[1], uuid.UUID(sys.argv[2].strip("{}"))
    data = bytearray(open(path, "rb").read())
    magic, _, posguid = struct.unpack_from("<4sii", data, 0)
    if magic != b"MSFT":
        fail(path, "not a type library")
    varflags, = struct.unpack_from("<i", data, 0x14)
    ntypes, = struct.unpack_from("<i", data, 0x20)
    segdir = 0x54 + 4 * ntypes + (4 if varflags & 0x100 else 0)
    impinfo_offset, impinfo_length = struct.unpack_from("<ii", data, segdir + 1 * 16)
    guidtab_offset, guidtab_length = struct.unpack_from("<ii", data, segdir + 5 * 16)

    def guid_at(offset):
        at = guidtab_offset + offset
        return uuid.UUID(bytes_le=bytes(data[at:at + 16]))

    changed = []
    entries = []
    for at in range(impinfo_offset, impinfo_offset + max(impinfo_length, 0), IMPINFO_ENTRY):
        word, impfile, oguid = struct.unpack_from("<iii", data, at)
        entries.append((at, (word >> 16) & 0xFF, (word >> 24) & 0xFF, impfile, oguid))
    proper = [e for e in entries
              if e[1] & IMPINFO_BY_GUID and 0 <= e[4] <= guidtab_length - GUID_ENTRY and guid_at(e[4]) == IID_IDISPATCH]
    broken = [e for e in entries if e[1] & IMPINFO_BY_GUID and e[4] == -1]
    if broken:
        if len(proper) != 1:
            fail(path, f"{len(broken)} import entries without a GUID and {len(proper)} naming IDispatch")
        _, _, kind, impfile, oguid = proper[0]
        for at, _, broken_kind, broken_file, _ in broken:
            if broken_kind != kind or broken_file != impfile:
                fail(path, "an import entry without a GUID that is not stdole2's IDispatch")
            struct.pack_into("<i", data, at + 8, oguid)
        changed.append(f"{len(broken)} import entries pointed at IDispatch")

    if not 0 <= posguid <= guidtab_length - 16:
        fail(path, "library GUID outside the GUID table")
    at = guidtab_offset + posguid
    stored = uuid.UUID(bytes_le=bytes(data[at:at + 16]))
    if stored != expected:
        if stored.bytes_le[:15] != expected.bytes_le[:15]:
            fail(path, f"library GUID {stored} is not the expected {expected}")
        data[at:at + 16] = expected.bytes_le
        changed.append("library GUID restored")

    if changed:
        open(path, "wb").write(data)
        print(f"{path}: " + "; ".join(changed))


if __name__ == "__main__":
    main()
