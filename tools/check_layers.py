#!/usr/bin/env python3
"""Checks that the plug-in's includes point one way: host/ at the bottom,
frame/ above it, reconcile/ on top. A file may include its own layer and the
ones below, never one above, and never anything outside the three (the
stand-in, the host program and the tests stay out of the plug-in).

The one exception is the lifecycle: frame/plugin_entry.cpp starts and stops
reconcile/'s hooks and command (reconcile/table_hooks.h). Anything else that
must reach upward gets a pointer handed down, never an include.

Within a layer the same holds for its modules, a module being the files of
one name (call_trace.h and call_trace.cpp; host_entries.h and
host_entries.S): no file includes a module of its own layer that includes
its own module back, directly or through others. What two modules both need
goes into a third below them.

    tools/check_layers.py            lists every include that points elsewhere; fails if any
    tools/check_layers.py --self-test  checks that both rules find what they should
"""
import os
import re
import sys
import tempfile

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
LAYERS = ["host", "frame", "reconcile"]  # bottom first
ALLOWED_UPWARD = {("frame/plugin_entry.cpp", "reconcile/table_hooks.h")}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
SOURCES = (".h", ".cpp", ".S", ".inc")


def module_of(path):
    """A file's module: its layer and its name without the extension."""
    return os.path.splitext(path)[0]


def includes(root):
    """Every include of the plug-in's files: (source, line, target), each path
    from the root."""
    found = []
    for layer in LAYERS:
        folder = os.path.join(root, layer)
        for name in sorted(os.listdir(folder)):
            if not name.endswith(SOURCES):
                continue
            source = layer + "/" + name
            with open(os.path.join(folder, name), encoding="utf-8") as text:
                for number, line in enumerate(text, 1):
                    match = INCLUDE.match(line)
                    if match:
                        target = match.group(1)
                        if "/" not in target:
                            target = layer + "/" + target
                        found.append((source, number, target))
    return found


def layer_violations(edges):
    found = []
    for source, number, target in edges:
        layer = source.split("/")[0]
        target_layer = target.split("/")[0]
        if target_layer not in LAYERS:
            found.append(f"{source}:{number}: includes {target}, outside the plug-in")
        elif LAYERS.index(target_layer) > LAYERS.index(layer) and \
                (source, target) not in ALLOWED_UPWARD:
            found.append(f"{source}:{number}: includes {target}, a layer above")
    return found


def path_between(graph, start, goal):
    """The modules from start to goal along the graph's includes, or None."""
    seen = {start: None}
    queue = [start]
    while queue:
        current = queue.pop(0)
        if current == goal:
            path = []
            while current is not None:
                path.append(current)
                current = seen[current]
            return path[::-1]
        for following in sorted(graph.get(current, ())):
            if following not in seen:
                seen[following] = current
                queue.append(following)
    return None


def module_violations(edges):
    """Includes within a layer whose target module includes the source's
    module back, directly or through others."""
    graph = {}
    within = []
    for source, number, target in edges:
        if source.split("/")[0] != target.split("/")[0]:
            continue
        a, b = module_of(source), module_of(target)
        if a == b:
            continue
        graph.setdefault(a, set()).add(b)
        within.append((source, number, target, a, b))
    found = []
    for source, number, target, a, b in within:
        back = path_between(graph, b, a)
        if back:
            found.append(f"{source}:{number}: includes {target}, and "
                         + " -> ".join(back) + " includes it back")
    return found


def violations(root):
    edges = includes(root)
    return layer_violations(edges) + module_violations(edges)


def self_test():
    """Plants an include that points upward and a ring of three modules in a
    tree of its own, and checks that each is named, and nothing else."""
    files = {
        "host/records.h": "",
        "frame/a.h": "",
        "frame/a.cpp": '#include "frame/a.h"\n#include "frame/b.h"\n',
        "frame/b.h": '#include "host/records.h"\n',
        "frame/b.cpp": '#include "frame/b.h"\n#include "frame/c.h"\n',
        "frame/c.h": "",
        "frame/c.cpp": '#include "frame/c.h"\n#include "frame/a.h"\n',
        "frame/d.cpp": '#include "frame/a.h"\n#include "reconcile/e.h"\n',
        "reconcile/e.h": '#include "frame/a.h"\n',
    }
    with tempfile.TemporaryDirectory() as root:
        for path, text in files.items():
            os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
            with open(os.path.join(root, path), "w", encoding="utf-8") as out:
                out.write(text)
        found = violations(root)
    expected = [
        "frame/d.cpp:2: includes reconcile/e.h, a layer above",
        "frame/a.cpp:2: includes frame/b.h, and frame/b -> frame/c -> frame/a includes it back",
        "frame/b.cpp:2: includes frame/c.h, and frame/c -> frame/a -> frame/b includes it back",
        "frame/c.cpp:2: includes frame/a.h, and frame/a -> frame/b -> frame/c includes it back",
    ]
    if sorted(found) != sorted(expected):
        print("the layer check found:")
        for line in found:
            print("  " + line)
        print("where it should find:")
        for line in expected:
            print("  " + line)
        return 1
    return 0


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--self-test":
        return self_test()
    if self_test() != 0:
        return 1
    found = violations(sys.argv[1] if len(sys.argv) > 1 else ROOT)
    for line in found:
        print(line)
    if found:
        print("Includes point downward only: host/ < frame/ < reconcile/, and within a layer "
              "no module includes one that includes it back (docs/architecture.md, \"Layers\").")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
