#!/usr/bin/env python3
"""Checks that the plug-in's includes point one way: host/ at the bottom,
frame/ above it, reconcile/ on top. A file may include its own layer and the
ones below, never one above, and never anything outside the three (the
stand-in, the host program and the tests stay out of the plug-in).

The one exception is the lifecycle: frame/plugin_entry.cpp starts and stops
reconcile/'s hooks and command (reconcile/table_hooks.h). Anything else that
must reach upward gets a pointer handed down, never an include.

    tools/check_layers.py    lists every include that points elsewhere; fails if any
"""
import os
import re
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
LAYERS = ["host", "frame", "reconcile"]  # bottom first
ALLOWED_UPWARD = {("frame/plugin_entry.cpp", "reconcile/table_hooks.h")}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def violations(root):
    found = []
    for layer in LAYERS:
        folder = os.path.join(root, layer)
        for name in sorted(os.listdir(folder)):
            if not name.endswith((".h", ".cpp", ".S")):
                continue
            source = layer + "/" + name
            with open(os.path.join(folder, name), encoding="utf-8") as text:
                for number, line in enumerate(text, 1):
                    match = INCLUDE.match(line)
                    if not match:
                        continue
                    target = match.group(1)
                    target_layer = target.split("/")[0] if "/" in target else layer
                    if target_layer not in LAYERS:
                        found.append(f"{source}:{number}: includes {target}, outside the plug-in")
                    elif LAYERS.index(target_layer) > LAYERS.index(layer) and \
                            (source, target) not in ALLOWED_UPWARD:
                        found.append(f"{source}:{number}: includes {target}, a layer above")
    return found


def main():
    found = violations(sys.argv[1] if len(sys.argv) > 1 else ROOT)
    for line in found:
        print(line)
    if found:
        print("Includes point downward only: host/ < frame/ < reconcile/ "
              "(docs/architecture.md, \"Layers\").")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
