#!/usr/bin/python3
"""Fails when a source file includes from a folder it must not depend on.

The layers, lowest first: common < mailmodel < servers < accountserver <
app. smsgate is a client library of its own beside common. webcom and
vdirinstall sit on the layers they use, gui on the whole program; nothing
includes any of those three from outside. Inside servers/ the subfolders
form no cycle (two of them never include each other, even through a third).

Usage: check_layering.py SOURCE_DIR. Prints one line per offending include
and exits 1, or exits 0 silently.
"""
import os
import re
import sys

# What each top folder may include besides itself.
ALLOWED = {
    "common": set(),
    "smsgate": set(),
    "mailmodel": {"common"},
    "servers": {"common", "smsgate", "mailmodel"},
    "accountserver": {"common", "smsgate", "mailmodel", "servers"},
    "app": {"common", "smsgate", "mailmodel", "servers", "accountserver"},
    "webcom": {"common", "mailmodel"},
    "vdirinstall": {"common"},
    "gui": {"common", "smsgate", "mailmodel", "servers", "accountserver", "app"},
}
SOURCE_ENDINGS = (".h", ".hpp", ".c", ".cc", ".cpp")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def unit_of(parts):
    """The folder a path belongs to: servers/<sub> inside servers, else the top folder."""
    if parts[0] == "servers" and len(parts) > 2:
        return "servers/" + parts[1]
    return parts[0]


def main(root):
    faults = []
    servers_edges = {}  # servers/<sub> -> {servers/<other>: first include line}
    for top in sorted(ALLOWED):
        for folder, _, files in os.walk(os.path.join(root, top)):
            for name in sorted(files):
                if not name.endswith(SOURCE_ENDINGS):
                    continue
                path = os.path.join(folder, name)
                relative = os.path.relpath(path, root)
                source_unit = unit_of(relative.split(os.sep))
                with open(path, encoding="utf-8", errors="replace") as text:
                    for number, line in enumerate(text, 1):
                        match = INCLUDE.match(line)
                        if not match or "/" not in match.group(1):
                            continue
                        target = match.group(1).split("/")
                        if target[0] not in ALLOWED:
                            continue  # a system or third-party header
                        where = f"{relative}:{number}: includes \"{match.group(1)}\""
                        if target[0] != top and target[0] not in ALLOWED[top]:
                            faults.append(f"{where}: {top}/ may not include from {target[0]}/")
                        target_unit = unit_of(target)
                        if top == "servers" and target[0] == "servers" and target_unit != source_unit:
                            servers_edges.setdefault(source_unit, {}).setdefault(target_unit, where)

    # A cycle between servers/ subfolders: report each edge that lies on one.
    def reaches(start, goal):
        seen, todo = set(), [start]
        while todo:
            unit = todo.pop()
            if unit == goal:
                return True
            if unit not in seen:
                seen.add(unit)
                todo.extend(servers_edges.get(unit, {}))
        return False

    for source_unit, targets in sorted(servers_edges.items()):
        for target_unit, where in sorted(targets.items()):
            if reaches(target_unit, source_unit):
                faults.append(f"{where}: {source_unit}/ and {target_unit}/ include each other")

    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "."))
