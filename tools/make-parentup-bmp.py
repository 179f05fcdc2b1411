#!/usr/bin/env python3
"""Writes resources/ParentUp.bmp, the picker's "up one level" icon: a folder
with a green arrow pointing up, 16 x 16 pixels, 24 bits per pixel, on magenta
(the image list's transparency colour). The output is byte-for-byte the same
on every run.

    python3 tools/make-parentup-bmp.py [output.bmp]
"""
import os
import struct
import sys

PICTURE = [
    "................",
    ".........K......",
    "........KGK.....",
    ".......KGGGK....",
    "......KGGGGGK...",
    ".....KKKGGGKKK..",
    ".KKKK..KGGGK....",
    "KYYYYK.KGGGK....",
    "KYYYYYKKGGGKKKK.",
    "KYYYYYYKGGGKYYK.",
    "KYYYYYYKGGGKYYK.",
    "KYYYYYYKKKKKYYK.",
    "KYYYYYYYYYYYYYK.",
    "KDDDDDDDDDDDDDK.",
    "KKKKKKKKKKKKKKK.",
    "................",
]

COLOURS = {  # (red, green, blue)
    ".": (255, 0, 255),   # transparent
    "K": (0, 0, 0),
    "G": (0, 160, 0),
    "Y": (255, 214, 90),
    "D": (214, 160, 40),
}


def bitmap_bytes():
    assert len(PICTURE) == 16 and all(len(row) == 16 for row in PICTURE)
    pixels = bytearray()
    for row in reversed(PICTURE):           # a BMP stores the bottom row first
        for cell in row:
            red, green, blue = COLOURS[cell]
            pixels += bytes((blue, green, red))
        # 16 pixels x 3 bytes = 48, already a multiple of 4: no row padding
    info = struct.pack("<IiiHHIIiiII", 40, 16, 16, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return header + info + bytes(pixels)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "resources", "ParentUp.bmp")
    with open(out, "wb") as f:
        f.write(bitmap_bytes())


if __name__ == "__main__":
    main()
