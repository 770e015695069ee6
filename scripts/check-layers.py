#!/usr/bin/env python3
"""Fails when a source file includes a header of a higher layer.

Every folder of the program is one component on one layer. A file may
include headers of its own component and of components on lower layers only:
so a core never includes a views header, the mail host never includes the
program above it, and two subsystems on one layer never include each other.
Tests, benchmarks and fuzz targets may include anything.

An include is resolved as the compiler would find it: relative to the
including file first ("../views/Page.h" is the views folder), then from the
top of the tree. The custom-widget headers that a .ui form names are
includes of the form's folder too.

check-layers.py [ROOT]: checks the tree at ROOT (default: this checkout).
"""
import os
import pathlib
import re
import sys

LAYERS = {
    "common/core": 0,
    "hostmail": 1,  # HostError.h, shared by the host's rooms
    "hostmail/store": 2,
    "hostmail/process": 2.5,  # the one way to start another program
    "hostmail/vcard": 3,
    "hostmail/ical": 3,
    "hostmail/mime": 3,
    "hostmail/net": 3,  # the one transport of both accounts
    "hostmail/model": 4,
    "hostmail/smtp": 4,
    "hostmail/signin": 4.2,  # sign-in with providers, keeping its tokens as the mail account keeps passwords
    "hostmail/delivery": 5,
    "hostmail/carddav": 4.5,  # above the mail account, whose password helper it shares
    "templates/core": 6,
    "greetings/core": 7,
    "bulkmail/core": 7,
    "reminders/core": 7,
    "export/core": 7,
    "shell/core": 7,
    "common/views": 8,
    "templates/views": 9,
    "greetings/views": 10,
    "bulkmail/views": 10,
    "export/views": 10,
    "shell/views": 11,
    "app": 12,
}
UNCHECKED = ("tests/", "bench/", "fuzz/", "build/")

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
UI_HEADER = re.compile(r"<header[^>]*>\s*([^<\s]+)\s*</header>")


def component(path):
    """The longest folder of LAYERS that holds path, or None."""
    parts = pathlib.PurePosixPath(path).parts[:-1]
    for n in range(len(parts), 0, -1):
        folder = "/".join(parts[:n])
        if folder in LAYERS:
            return folder
    return None


def resolve(root, rel, name):
    """The tree path an include names, relative to the including file first."""
    beside = os.path.normpath(os.path.join(os.path.dirname(rel), name))
    if not beside.startswith("..") and (root / beside).is_file():
        return beside
    top = os.path.normpath(name)
    if top.startswith(".."):
        return None  # out of the tree: a system header
    return top


def includes(file, rel):
    """(line number, included name) of a source file or a .ui form."""
    text = file.read_text(encoding="utf-8")
    pattern = UI_HEADER if file.suffix == ".ui" else INCLUDE
    for number, line in enumerate(text.splitlines(), 1):
        m = pattern.search(line) if file.suffix == ".ui" else pattern.match(line)
        if m:
            yield number, m.group(1)


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent.parent)
    root = root.resolve()
    faults = []
    for file in sorted(root.rglob("*")):
        if file.suffix not in (".h", ".cpp", ".ui") or not file.is_file():
            continue
        rel = file.relative_to(root).as_posix()
        if rel.startswith(UNCHECKED):
            continue
        own = component(rel)
        if own is None:
            faults.append(f"{rel}: folder is on no layer (add it to scripts/check-layers.py)")
            continue
        for number, name in includes(file, rel):
            path = resolve(root, rel, name)
            if path is None:
                faults.append(f"{rel}:{number}: {name} leads out of the tree")
                continue
            if "/" not in path:
                continue  # a generated ui_*.h header or a system one
            target = component(path)
            if target is None or target == own:
                continue
            if LAYERS[target] >= LAYERS[own]:
                faults.append(f"{rel}:{number}: {own} (layer {LAYERS[own]}) includes {name} "
                              f"of {target} (layer {LAYERS[target]})")
    for fault in faults:
        print(fault, file=sys.stderr)
    if faults:
        print(f"{len(faults)} include(s) against the layers", file=sys.stderr)
        return 1
    print("layers: every include points down")
    return 0


if __name__ == "__main__":
    sys.exit(main())
