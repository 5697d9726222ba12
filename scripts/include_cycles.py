#!/usr/bin/env python3
"""Import cycles between the units of source folders, read from their #include lines.

A unit is a header and its .cpp (pdf/PDFDocument.h with pdf/PDFDocument.cpp). Unit A imports
unit B when A's header or .cpp includes B's header. Prints every group of two or more units
that import each other in a loop (a strongly connected component), largest first, and the
count of groups; exits 0 either way.

    python3 scripts/include_cycles.py pdf app
"""
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def units(root, folders):
    """unit name (folder/Stem) -> files of the unit."""
    found = {}
    for folder in folders:
        for name in sorted(os.listdir(os.path.join(root, folder))):
            stem, ext = os.path.splitext(name)
            if ext in (".h", ".cpp"):
                found.setdefault(f"{folder}/{stem}", []).append(os.path.join(root, folder, name))
    return found


def imports(root, found):
    graph = {unit: set() for unit in found}
    for unit, files in found.items():
        for path in files:
            with open(path, encoding="utf-8", errors="replace") as f:
                for line in f:
                    m = INCLUDE.match(line)
                    if not m:
                        continue
                    target = os.path.splitext(m.group(1))[0]
                    if target in graph and target != unit:
                        graph[unit].add(target)
    return graph


def strongly_connected(graph):
    """Tarjan's algorithm, iterative (no recursion limit on long chains)."""
    index, low, on_stack, stack, groups = {}, {}, set(), [], []
    counter = 0
    for start in sorted(graph):
        if start in index:
            continue
        work = [(start, iter(sorted(graph[start])))]
        index[start] = low[start] = counter
        counter += 1
        stack.append(start)
        on_stack.add(start)
        while work:
            node, children = work[-1]
            advanced = False
            for child in children:
                if child not in index:
                    index[child] = low[child] = counter
                    counter += 1
                    stack.append(child)
                    on_stack.add(child)
                    work.append((child, iter(sorted(graph[child]))))
                    advanced = True
                    break
                if child in on_stack:
                    low[node] = min(low[node], index[child])
            if advanced:
                continue
            work.pop()
            if work:
                parent = work[-1][0]
                low[parent] = min(low[parent], low[node])
            if low[node] == index[node]:
                group = []
                while True:
                    member = stack.pop()
                    on_stack.discard(member)
                    group.append(member)
                    if member == node:
                        break
                if len(group) > 1:
                    groups.append(sorted(group))
    return sorted(groups, key=lambda g: (-len(g), g))


def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    folders = sys.argv[1:] or ["pdf", "app"]
    found = units(root, folders)
    groups = strongly_connected(imports(root, found))
    for group in groups:
        print(f"cycle of {len(group)}: " + " ".join(group))
    print(f"{len(groups)} cycle(s) among {len(found)} units of {', '.join(folders)}")


if __name__ == "__main__":
    main()
