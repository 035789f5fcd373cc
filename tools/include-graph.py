#!/usr/bin/env python3
# tools/include-graph.py — prints the include graph of the product folders; fails on a cycle.
# Usage: include-graph.py [SOURCE_TOP]
import os
import re
import sys

FOLDERS = ["app", "resources", "settings", "engine", "net", "address", "page"]
# Files of app/ that the lower layers share, each a layer of its own: the
# window surface the engine and page code write to, and the resource ids.
OWN_LAYERS = {"app/surface", "app/ids"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+/[A-Za-z0-9_]+)\.(?:h|inc)"', re.M)


def layer(path):
    """The layer a file belongs to: its folder, or one of OWN_LAYERS."""
    stem = os.path.splitext(path)[0]
    return stem if stem in OWN_LAYERS else path.split("/")[0]


def include_edges(top):
    edges = {}
    for folder in FOLDERS:
        for name in sorted(os.listdir(os.path.join(top, folder))):
            if not name.endswith((".cpp", ".h", ".rc", ".inc")):
                continue
            path = folder + "/" + name
            with open(os.path.join(top, path), encoding="utf-8", errors="replace") as f:
                for target in INCLUDE.findall(f.read()):
                    if target.split("/")[0] in FOLDERS and layer(target) != layer(path):
                        edges.setdefault(layer(path), {}).setdefault(layer(target), []).append(path)
    return edges


def find_cycle(edges):
    """One cycle of layers as a list, or None."""
    state, trail = {}, []

    def visit(node):
        state[node] = "open"
        trail.append(node)
        for nxt in sorted(edges.get(node, {})):
            if state.get(nxt) == "open":
                return trail[trail.index(nxt):] + [nxt]
            if nxt not in state:
                found = visit(nxt)
                if found:
                    return found
        state[node] = "done"
        trail.pop()
        return None

    for node in sorted(edges):
        if node not in state:
            found = visit(node)
            if found:
                return found
    return None


def main():
    top = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    edges = include_edges(top)
    for source in sorted(edges):
        print("%-12s -> %s" % (source, ", ".join(sorted(edges[source]))))
    cycle = find_cycle(edges)
    if cycle:
        pairs = zip(cycle, cycle[1:])
        print("cycle: " + " -> ".join(cycle))
        for a, b in pairs:
            print("  %s -> %s in %s" % (a, b, ", ".join(edges[a][b])))
        return 1
    print("no cycle")
    return 0


if __name__ == "__main__":
    sys.exit(main())
