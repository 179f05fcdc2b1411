#!/usr/bin/env python3
"""The picker benchmark's folder sets, made on the Unix side (far faster than
through Wine). Each set holds "tree" (10 folders of 100 folders of 10 files,
sizes 0 to 900 bytes) and "flat" (5,000 empty files), and is placed so that
the longest path of a listed item has the wanted length in the system code
page (949: a Hangul syllable is two bytes).
   make-bench-sets.py ROOT DRIVE
prints one line per set: its length and its path as the Wine side sees it
(DRIVE, mapped to ROOT)."""
import os
import sys

root, drive = sys.argv[1], sys.argv[2].rstrip(":")
# (wanted length of the longest item path, folder name pieces, file name stem)
SETS = [(40, "p", "item"), (64, "p", "item"), (100, "p", "item"), (200, "p", "item"), (120, "자료", "사진")]
ITEM = 4 + 4 + 4   # stem (4 bytes in both stems) + 4 digits + ".txt"


def cp949_len(text):
    return len(text.encode("cp949"))


def set_path(length, piece, stem):
    # DRIVE:\<name>\...\flat\<stem>NNNN.txt, the names made of piece and a
    # few digits, each component at most 60 bytes.
    fixed = cp949_len(drive) + 2 + len("\\flat\\") + ITEM
    left = length - fixed
    parts = []
    tag = "%s%d" % (piece, length)
    while left > 0:
        room = min(60, left) if left - min(60, left) != 1 else 59
        name = tag
        while cp949_len(name) + cp949_len(piece) <= room:
            name += piece
        while cp949_len(name) < room:
            name += "x"
        parts.append(name)
        left -= cp949_len(name) + 1
    # The last separator is counted by fixed already.
    return parts


def make(path, stem):
    marker = os.path.join(path, "complete")
    if os.path.exists(marker):
        return
    os.makedirs(path, exist_ok=True)
    for a in range(10):
        for b in range(100):
            inner = os.path.join(path, "tree", "d%d" % a, "e%d" % b)
            os.makedirs(inner, exist_ok=True)
            for c in range(10):
                with open(os.path.join(inner, "file%d.dat" % c), "wb") as f:
                    f.write(b"x" * (c * 100))
    flat = os.path.join(path, "flat")
    os.makedirs(flat, exist_ok=True)
    for i in range(5000):
        open(os.path.join(flat, "%s%d.txt" % (stem, i)), "wb").close()
    open(marker, "wb").close()


for length, piece, stem in SETS:
    parts = set_path(length, piece, stem)
    make(os.path.join(root, *parts), stem)
    wine = drive + ":\\" + "\\".join(parts)
    longest = cp949_len(wine + "\\flat\\" + stem + "1000.txt")
    print("%d\t%s" % (longest, wine))
