#!/usr/bin/env python3
"""Fails when a file of src/ includes a header of a layer it may not use (ARCHITECTURE.md).

usage: check_layers.py SRC_DIR
Each folder of src/ is a layer (a subfolder is a layer of its own); a layer may include its own
headers and those of the layers listed for it, nothing else. A folder missing from the table is
an error too, so a new folder gets its place in the layers before it builds."""
import os
import re
import sys

MAY_USE = {
    "platform": set(),
    "platform/x11": {"platform"},
    "platform/wayland": {"platform"},
    "platform/pulse": {"platform"},
    "platform/qt": {"platform"},
    "platform/secret": {"platform"},
    "platform/xdg": {"platform"},
    "platform/portal": {"platform"},
    "platform/evdev": {"platform"},
    "platform/gnome": {"platform"},
    "platform/loader": {"platform/x11", "platform/wayland", "platform/pulse", "platform/qt", "platform/secret", "platform/xdg",
                        "platform/portal", "platform/evdev",
                        "platform/gnome", "platform"},
    "state": {"platform"},
    "engine": {"state", "platform"},
    "cloud": {"state", "platform"},
    "dictation": {"engine", "cloud", "state", "platform"},
    "ui/kit": {"dictation", "engine", "cloud", "state", "platform"},
    "ui/overlay": {"ui/kit", "dictation", "engine", "cloud", "state", "platform"},
    "ui/onboarding": {"ui/kit", "dictation", "engine", "cloud", "state", "platform"},
    "ui/main": {"ui/kit", "dictation", "engine", "cloud", "state", "platform"},
    "app": {"ui/overlay", "ui/onboarding", "ui/main", "ui/kit", "dictation", "engine", "cloud", "state",
            "platform/loader", "platform"},
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def main(src):
    faults = []
    for folder, _, files in os.walk(src):
        layer = os.path.relpath(folder, src).replace(os.sep, "/")
        sources = [f for f in files if f.endswith((".h", ".cpp", ".inc"))]
        if not sources or layer == ".":
            continue
        if layer not in MAY_USE:
            faults.append(f"{layer}/: a folder that has no place in the layers")
            continue
        for name in sources:
            with open(os.path.join(folder, name), errors="replace") as f:
                text = f.read()
            for header in INCLUDE.findall(text):
                target = os.path.dirname(header)
                if not os.path.exists(os.path.join(src, header)):
                    continue  # not one of ours (or relative to the file itself)
                if target != layer and target not in MAY_USE[layer]:
                    faults.append(f"{layer}/{name} includes {header}: {layer} may not use {target}")
    for fault in faults:
        print(fault)
    print(f"{len(faults)} include(s) against the layers")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "src"))
