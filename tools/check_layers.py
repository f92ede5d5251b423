#!/usr/bin/env python3
"""Fails when a file of the library includes a header of a room above its own, or when a test
header could be taken for a header of the library.

The rooms and their levels are read from the rooms table of docs/architecture.md (rows
"| level | `room/` | ..."): a file may include headers of its own room and of rooms on a
lower level; rooms on one level do not know each other. Every file below src/ and include/
must sit in a listed room.

The suites compile with tests/, src/ and include/ on the include path, in that order. So no
header below tests/ may have a path that also exists below src/ or include/ (it would hide the
library's), and a test includes a test header only from its own folder by its bare name or from
tests/common/ (helpers shared by several suites, a folder per family): "pixel/core/x.h" always
names the library's pixel/core room.

Usage: check_layers.py [ROOT]            checks the tree at ROOT (default: this checkout)
       check_layers.py --self-test       builds a small tree with one wrong include and checks
                                         that exactly that include is reported
       check_layers.py --self-test-tests builds a small tree with a test header on a library
                                         path, a test that includes it and one that reaches into
                                         another suite's folder, and checks that exactly these
                                         three are reported
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
TEST_DIR = "tests"
COMMON_DIR = os.path.join(TEST_DIR, "common")
SUFFIXES = (".h", ".hpp", ".cpp", ".c", ".inc")
HEADERS = (".h", ".hpp", ".inc")


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


def resolve(root, including, name, bases=SOURCE_DIRS):
    """The file an include names, as the compiler finds it (own folder, then BASES)."""
    for base in (os.path.dirname(including),) + tuple(bases):
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
                for number, included in includes(root, path):
                    target = resolve(root, path, included)
                    other = room_of(target, rooms) if target else None
                    if other is None or other == own:
                        continue
                    if rooms[other] >= rooms[own]:
                        faults.append(
                            f"{path}:{number}: includes {included} of room {other}/ "
                            f"(level {rooms[other]}), not below {own}/ (level {rooms[own]})")
    return faults


def includes(root, path):
    """(line number, included name) for each include of the file at PATH (relative to ROOT)."""
    with open(os.path.join(root, path), encoding="utf-8", errors="replace") as src:
        for number, line in enumerate(src, 1):
            match = INCLUDE.match(line)
            if match:
                yield number, match.group(1)


def check_tests(root):
    """Test headers on library paths, and test headers included other than from the own folder
    or tests/common/."""
    faults = []
    for folder, _, files in os.walk(os.path.join(root, TEST_DIR)):
        for name in sorted(files):
            if not name.endswith(SUFFIXES):
                continue
            path = os.path.relpath(os.path.join(folder, name), root)
            below = os.path.relpath(path, TEST_DIR)
            for top in SOURCE_DIRS if name.endswith(HEADERS) else ():
                if os.path.isfile(os.path.join(root, top, below)):
                    faults.append(f"{path}: test header on the path of the library's {top}/{below}")
            own = os.path.dirname(path)
            for number, included in includes(root, path):
                # The compiler's order for a test: its own folder, then tests/, src/, include/.
                target = resolve(root, path, included, (TEST_DIR,))
                if target is None or target.startswith(COMMON_DIR + os.sep):
                    continue
                if target == os.path.join(own, included) and "/" not in included:
                    continue  # the suite's own helper, by its bare name
                faults.append(
                    f"{path}:{number}: includes the test header {target} as \"{included}\": a "
                    f"suite's own helper is included by its bare name, a shared one lives in "
                    f"{COMMON_DIR}/<family>/")
    return faults


def all_faults(root):
    return check(root) + check_tests(root)


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


def self_test_tests():
    """A test header on a library path and a reach into another suite's folder are reported; a
    suite's own helper by bare name and a shared one below tests/common/ are not."""
    def write(tmp, path, text=""):
        os.makedirs(os.path.join(tmp, os.path.dirname(path)), exist_ok=True)
        with open(os.path.join(tmp, path), "w") as f:
            f.write(text)
    source_root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    with tempfile.TemporaryDirectory() as tmp:
        os.makedirs(os.path.join(tmp, "docs"))
        shutil.copy(os.path.join(source_root, DOC), os.path.join(tmp, DOC))
        write(tmp, "src/oldtiff/lzw.h", "#pragma once\n")
        write(tmp, "tests/oldtiff/lzw.h", "#pragma once\n")  # hides the library's header
        write(tmp, "tests/oldtiff/own.h", "#pragma once\n")
        write(tmp, "tests/common/oldtiff/shared.h", '#pragma once\n#include "common/util.h"\n')
        write(tmp, "tests/common/util.h", "#pragma once\n")
        write(tmp, "tests/oldtiff/a_test.cpp",
              '#include "own.h"\n#include "common/oldtiff/shared.h"\n#include "oldtiff/lzw.h"\n'
              '#include <vector>\n')
        write(tmp, "tests/v5files/b_test.cpp",
              '#include "common/util.h"\n#include "oldtiff/own.h"\n')
        faults = all_faults(tmp)
    expected = ("tests/oldtiff/lzw.h: ", "tests/oldtiff/a_test.cpp:3: ",
                "tests/v5files/b_test.cpp:2: ")
    if sorted(faults) != sorted(f for f in faults if f.startswith(expected)) or \
            any(sum(f.startswith(e) for f in faults) != 1 for e in expected):
        print("check_layers self-test (tests): expected", list(expected), "got:", faults)
        return 1
    print("check_layers self-test (tests): reported:", *faults, sep="\n  ")
    return 0


def main(argv):
    if argv[1:] == ["--self-test"]:
        return self_test()
    if argv[1:] == ["--self-test-tests"]:
        return self_test_tests()
    root = argv[1] if len(argv) > 1 else os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    faults = all_faults(root)
    for fault in faults:
        print(fault)
    if faults:
        print(f"check_layers: {len(faults)} fault(s) against the room order of {DOC} "
              f"or the place of test headers")
        return 1
    print(f"check_layers: {len(read_rooms(root))} rooms, no include runs upward, "
          f"no test header on a library path")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
