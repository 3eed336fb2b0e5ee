#!/usr/bin/env python3
"""Draws the house from its includes: which folder of src/ includes which, and how often.

Usage: tools/include-graph.py [SRC_DIR]   (default: src beside this script's folder)

Folders rank from the top down: app; window and install, side by side; base. Every "#include"
of a header of the project's own must point to the same folder or one below; window and install
never include each other (only app joins them). Prints one line per folder pair
("app -> window  12"), then every include that points up and every circle of includes between
files; exits 1 when there is any, else 0. Headers that are not in src/ (the system's, the
generated version header) are left out.
"""
import re
import sys
from pathlib import Path

RANKS = ["app", "window", "install", "base"]  # top first, for the printed order
LEVEL = {"app": 0, "window": 1, "install": 1, "base": 2}  # window and install are siblings
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def main() -> int:
    src = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / "src"
    files = sorted(p for p in src.rglob("*") if p.suffix in (".h", ".cpp"))
    folder_of = {}
    for path in files:
        folder = path.relative_to(src).parts[0]
        if folder not in RANKS:
            print(f"unknown folder: {path.relative_to(src)}")
            return 1
        if path.suffix == ".h":
            if path.name in folder_of:
                print(f"header name used twice: {path.name}")
                return 1
            folder_of[path.name] = folder

    edges = {}    # (from folder, to folder) -> count
    upward = []
    graph = {}    # file -> included project headers
    for path in files:
        here = path.relative_to(src).parts[0]
        graph[path.name] = []
        for name in INCLUDE.findall(path.read_text(encoding="utf-8")):
            there = folder_of.get(Path(name).name)
            if there is None:
                continue
            graph[path.name].append(Path(name).name)
            edges[(here, there)] = edges.get((here, there), 0) + 1
            if here != there and LEVEL[there] <= LEVEL[here]:
                relation = "beside" if LEVEL[there] == LEVEL[here] else "above"
                upward.append(f"{path.relative_to(src)} includes {name} ({there} is {relation} {here})")

    for (here, there), count in sorted(edges.items(), key=lambda e: (RANKS.index(e[0][0]), RANKS.index(e[0][1]))):
        print(f"{here:>8} -> {there:<8} {count:3}")

    circles = find_circles(graph)
    for line in upward:
        print(f"UP: {line}")
    for circle in circles:
        print("CIRCLE: " + " -> ".join(circle))
    if upward or circles:
        return 1
    print("every include points down or stays in its folder; window and install stay apart; no circle")
    return 0


def find_circles(graph):
    """Circles of includes between files, each reported once by the file it was found from."""
    circles, state = [], {}

    def visit(node, trail):
        state[node] = "open"
        for nxt in graph.get(node, []):
            if state.get(nxt) == "open":
                circles.append(trail[trail.index(nxt):] + [nxt])
            elif nxt not in state:
                visit(nxt, trail + [nxt])
        state[node] = "done"

    for node in sorted(graph):
        if node not in state:
            visit(node, [node])
    return circles


if __name__ == "__main__":
    sys.exit(main())
