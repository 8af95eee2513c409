#!/usr/bin/env python3
"""Checks that the source tree reads bottom-up: every #include "..." of the
libraries and programs points into the same room or a room below it, and
the include graph of the files has no cycle.

usage: check_layers.py [source-root]      exit status 1 on a violation
"""
import os
import re
import sys

# Rooms from the bottom up. A file belongs to the first room whose prefix
# matches its path; a room may include itself and anything listed before it.
ROOMS = [
    ("gxlib/fortran", ["gxlib/fortran/"]),
    ("gxlib/math", ["gxlib/mat.h", "gxlib/math/"]),
    # The plot state and each driver's own part of it, declared beside the
    # driver but holding only data.
    ("gxlib/state", ["gxlib/gxlib.h", "gxlib/plot/plotstate.h", "gxlib/plot/crdriver.h",
                     "gxlib/plot/psdriver.h", "gxlib/plot/svgdriver.h",
                     "gxlib/plot/hpdriver.h", "gxlib/plot/pagefile.h"]),
    ("gxlib/console", ["gxlib/console/"]),
    ("gxlib/plot", ["gxlib/plot/"]),
    ("tavo/state", ["tavo/state.h", "tavo/talk.h", "tavo/talk.cpp"]),
    ("tavo/series", ["tavo/series/"]),
    ("tavo/model", ["tavo/model/"]),
    ("tavo/optics", ["tavo/optics/"]),
    ("tavo/aber", ["tavo/aber/"]),
    ("tavo/system", ["tavo/system/"]),
    ("tavo/cof", ["tavo/cof/"]),
    ("tavo/design", ["tavo/design/"]),
    ("tavo/exact", ["tavo/exact/"]),
    ("tavo/round", ["tavo/round/"]),
    ("tavo/edit", ["tavo/edit/"]),
    ("tavo/cmd", ["tavo/commands.h", "tavo/cmd/"]),
    ("tavo/loop", ["tavo/"]),
    ("kestrim/state", ["kestrim/state.h"]),
    ("kestrim", ["kestrim/"]),
]
# Rooms that may see each other as equals (one subsystem split in two).
PEERS = {frozenset(["gxlib/console", "gxlib/plot"])}
SOURCE_DIRS = ["gxlib", "tavo", "kestrim"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def room_of(path):
    for i, (name, prefixes) in enumerate(ROOMS):
        if any(path == p or (p.endswith("/") and path.startswith(p)) for p in prefixes):
            return i, name
    return None, None


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    graph, problems = {}, []
    for top in SOURCE_DIRS:
        for dirpath, _, names in os.walk(os.path.join(root, top)):
            for n in names:
                if not n.endswith((".h", ".cpp")):
                    continue
                rel = os.path.relpath(os.path.join(dirpath, n), root)
                with open(os.path.join(root, rel), encoding="utf-8", errors="replace") as f:
                    incs = [i for i in INCLUDE.findall(f.read())
                            if i.split("/")[0] in SOURCE_DIRS]
                graph[rel] = incs
                i, name = room_of(rel)
                if i is None:
                    problems.append(f"{rel}: in no room")
                    continue
                for inc in incs:
                    j, other = room_of(inc)
                    if j is None:
                        problems.append(f"{rel}: includes {inc}, which is in no room")
                    elif j > i and frozenset([name, other]) not in PEERS:
                        problems.append(f"{rel} ({name}) includes {inc} ({other}): upwards")
    # Cycles among the files (headers including each other).
    state = {}

    def visit(node, stack):
        state[node] = 1
        stack.append(node)
        for nxt in graph.get(node, []):
            if state.get(nxt) == 1:
                problems.append("include cycle: " + " -> ".join(stack[stack.index(nxt):] + [nxt]))
            elif nxt in graph and not state.get(nxt):
                visit(nxt, stack)
        stack.pop()
        state[node] = 2

    for node in sorted(graph):
        if not state.get(node):
            visit(node, [])
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
