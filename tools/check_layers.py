#!/usr/bin/env python3
"""Fails when a file of the library includes a header of a room above its own.

The rooms and their levels are read from the rooms table of docs/architecture.md (rows
"| level | `room/` | ..."): a file may include headers of its own room and of rooms on a
lower level; rooms on one level do not know each other. Every file below src/ and include/
must sit in a listed room.

Usage: check_layers.py [ROOT]      checks the tree at ROOT (default: this checkout)
       check_layers.py --self-test builds a small tree with one wrong include and checks
                                   that exactly that include is reported
"""
import os
import re
import shutil
import sys
import tempfile

DOC = os.path.join("docs", "architecture.md")
ROW = re.compile(r"^\|\s*(\d+)\s*\|\s*`([^`]+?)/?`\s*\|")
INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]')
SOURCE_DIRS = ("src", "include")
SUFFIXES = (".h", ".hpp", ".cpp", ".c", ".inc")


def read_rooms(root):
    """Room path (relative, no trailing slash) -> level, from the architecture page."""
    rooms = {}
    with open(os.path.join(root, DOC), encoding="utf-8") as doc:
        for line in doc:
            match = ROW.match(line)
            if match:
                rooms[match.group(2).rstrip("/")] = int(match.group(1))
    if not rooms:
        raise SystemExit(f"check_layers: no rooms table found in {DOC}")
    return rooms


def room_of(path, rooms):
    """The longest listed room that holds PATH (relative to the root), or None."""
    best = None
    for room in rooms:
        if path.startswith(room + "/") and (best is None or len(room) > len(best)):
            best = room
    return best


def resolve(root, including, name):
    """The file an include names, as the compiler finds it (own folder, then src/, include/)."""
    for base in (os.path.dirname(including), "src", "include"):
        candidate = os.path.normpath(os.path.join(base, name))
        if os.path.isfile(os.path.join(root, candidate)):
            return candidate
    return None  # a system or generated header: outside the rooms


def check(root):
    rooms = read_rooms(root)
    faults = []
    for top in SOURCE_DIRS:
        for folder, _, files in os.walk(os.path.join(root, top)):
            for name in sorted(files):
                if not name.endswith(SUFFIXES):
                    continue
                path = os.path.relpath(os.path.join(folder, name), root)
                own = room_of(path, rooms)
                if own is None:
                    faults.append(f"{path}: in no room of {DOC}")
                    continue
                with open(os.path.join(root, path), encoding="utf-8", errors="replace") as src:
                    for number, line in enumerate(src, 1):
                        match = INCLUDE.match(line)
                        if not match:
                            continue
                        target = resolve(root, path, match.group(1))
                        other = room_of(target, rooms) if target else None
                        if other is None or other == own:
                            continue
                        if rooms[other] >= rooms[own]:
                            faults.append(
                                f"{path}:{number}: includes {match.group(1)} of room {other}/ "
                                f"(level {rooms[other]}), not below {own}/ (level {rooms[own]})")
    return faults


def self_test():
    """One wrong include in a copy of the room list: reported, and the right one is not."""
    source_root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    rooms = read_rooms(source_root)
    low = min(rooms, key=lambda r: rooms[r])
    high = max(rooms, key=lambda r: rooms[r])
    with tempfile.TemporaryDirectory() as tmp:
        os.makedirs(os.path.join(tmp, "docs"))
        shutil.copy(os.path.join(source_root, DOC), os.path.join(tmp, DOC))
        for room in rooms:
            os.makedirs(os.path.join(tmp, room), exist_ok=True)
        include_base = lambda room: room.split("/", 1)[1] if "/" in room else room
        with open(os.path.join(tmp, high, "top.h"), "w") as f:
            f.write(f'#pragma once\n#include "{include_base(low)}/bottom.h"\n')
        with open(os.path.join(tmp, low, "bottom.h"), "w") as f:
            f.write("#pragma once\n")
        with open(os.path.join(tmp, low, "bottom.cpp"), "w") as f:
            f.write(f'#include "{include_base(low)}/bottom.h"\n#include <vector>\n'
                    f'#include "{include_base(high)}/top.h"\n')
        faults = check(tmp)
    expected = [f for f in faults if f.startswith(f"{low}/bottom.cpp:3: includes ")]
    if len(faults) != 1 or len(expected) != 1:
        print("check_layers self-test: expected one fault (bottom.cpp:3), got:", faults)
        return 1
    print("check_layers self-test: the wrong include is reported:", faults[0])
    return 0


def main(argv):
    if argv[1:] == ["--self-test"]:
        return self_test()
    root = argv[1] if len(argv) > 1 else os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    faults = check(root)
    for fault in faults:
        print(fault)
    if faults:
        print(f"check_layers: {len(faults)} include(s) against the room order of {DOC}")
        return 1
    print(f"check_layers: {len(read_rooms(root))} rooms, no include runs upward")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
