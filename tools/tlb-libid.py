#!/usr/bin/env python3
"""Checks, and where needed restores, the library GUID of a compiled type library.

The interface compiler of the cross toolchain writes a wrong last byte into the
library's own GUID when a dispinterface is the first type of the library (the
other GUIDs come out right). The GUID is found through the file header, so only
that one entry is touched; anything else unexpected fails the build.

usage: tlb-libid.py FILE.tlb {LIBID}
"""
import struct
import sys
import uuid


def main():
    path, expected = sys.argv[1], uuid.UUID(sys.argv[2].strip("{}"))
    data = bytearray(open(path, "rb").read())
    magic, _, posguid = struct.unpack_from("<4sii", data, 0)
    if magic != b"MSFT":
        sys.exit(f"{path}: not a type library")
    varflags, = struct.unpack_from("<i", data, 0x14)
    ntypes, = struct.unpack_from("<i", data, 0x20)
    segdir = 0x54 + 4 * ntypes + (4 if varflags & 0x100 else 0)
    guidtab_offset, guidtab_length = struct.unpack_from("<ii", data, segdir + 5 * 16)
    if not 0 <= posguid <= guidtab_length - 16:
        sys.exit(f"{path}: library GUID outside the GUID table")
    at = guidtab_offset + posguid
    stored = uuid.UUID(bytes_le=bytes(data[at:at + 16]))
    if stored == expected:
        return
    if stored.bytes_le[:15] != expected.bytes_le[:15]:
        sys.exit(f"{path}: library GUID {stored} is not the expected {expected}")
    data[at:at + 16] = expected.bytes_le
    open(path, "wb").write(data)
    print(f"{path}: library GUID restored to {{{str(expected).upper()}}}")


if __name__ == "__main__":
    main()
