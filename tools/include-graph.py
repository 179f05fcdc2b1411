#!/usr/bin/env python3
"""Checks that the product's folders depend on each other in one direction.

    tools/include-graph.py [source root]

Reads every quoted #include of the product folders and fails (exit 1) when a
folder includes one of a higher layer, when two folders of one layer include
each other's files, or when the folders' include graph has a cycle. The layers,
top down: control/ (the COM object) and bridge/ (the browsers' host, a
second entry beside it that never includes it), then the subsystems transfer/, install/
and picker/, then base/. resources/ and the generated headers sit below all.
"""
import os
import re
import sys

LAYERS = {"control": 3, "bridge": 3, "transfer": 2, "install": 2, "picker": 2, "base": 1}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)
SOURCE_SUFFIXES = (".h", ".cpp", ".c", ".rc")


def folder_edges(root):
    """(from folder, to folder) -> list of 'file:line' where it happens."""
    edges = {}
    for folder in LAYERS:
        top = os.path.join(root, folder)
        for dirpath, _, names in os.walk(top):
            for name in sorted(names):
                if not name.endswith(SOURCE_SUFFIXES):
                    continue
                path = os.path.join(dirpath, name)
                with open(path, encoding="utf-8", errors="replace") as f:
                    text = f.read()
                for m in INCLUDE.finditer(text):
                    target = m.group(1).split("/", 1)
                    if len(target) < 2 or target[0] not in LAYERS or target[0] == folder:
                        continue
                    line = text.count("\n", 0, m.start()) + 1
                    where = f"{os.path.relpath(path, root)}:{line}"
                    edges.setdefault((folder, target[0]), []).append(where)
    return edges


def find_cycle(edges):
    graph = {}
    for a, b in edges:
        graph.setdefault(a, []).append(b)
    state = {}

    def visit(node, trail):
        state[node] = "open"
        for nxt in graph.get(node, []):
            if state.get(nxt) == "open":
                return trail[trail.index(nxt):] + [nxt] if nxt in trail else trail + [nxt]
            if nxt not in state:
                found = visit(nxt, trail + [nxt])
                if found:
                    return found
        state[node] = "done"
        return None

    for node in sorted(graph):
        if node not in state:
            found = visit(node, [node])
            if found:
                return found
    return None


def main(argv):
    root = argv[1] if len(argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    edges = folder_edges(root)
    problems = []
    for (a, b), places in sorted(edges.items()):
        if LAYERS[b] >= LAYERS[a] and not (LAYERS[b] == LAYERS[a] and (b, a) not in edges):
            kind = "a higher layer" if LAYERS[b] > LAYERS[a] else "a folder that includes it back"
            problems.append(f"{a}/ includes {b}/, {kind}: " + ", ".join(places))
    cycle = find_cycle(edges)
    if cycle:
        problems.append("folder cycle: " + " -> ".join(cycle))
    for (a, b), places in sorted(edges.items()):
        print(f"{a} -> {b} ({len(places)} include(s))")
    if problems:
        for p in problems:
            print("FAIL " + p)
        return 1
    print("PASS one direction, no folder cycle")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
