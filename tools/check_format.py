#!/usr/bin/env python3
"""Fails when a C or C++ file of the tree differs from what clang-format makes of it with the
project's .clang-format.

The tree is formatted with Debian's clang-format 14; another version lays some constructs out
differently, so it is not asked. Files: the .h, .hpp, .c, .cc and .cpp files below src/,
include/, tests/, bench/, fuzz/, apps/ and examples/ (generated tables are left out).

Usage: check_format.py CLANG_FORMAT [ROOT]      checks the tree at ROOT (default: this checkout)
       check_format.py CLANG_FORMAT --self-test builds a small tree with one misformatted line and
                                                checks that exactly that line is reported
CLANG_FORMAT is the program; when it is empty, ends in -NOTFOUND or is not version 14, the check
reports itself skipped (exit status 77).
"""
import concurrent.futures
import os
import re
import shutil
import subprocess
import sys
import tempfile

FOLDERS = ("src", "include", "tests", "bench", "fuzz", "apps", "examples")
SUFFIXES = (".h", ".hpp", ".c", ".cc", ".cpp")
SKIP = 77
VERSION = 14


def usable(program):
    """None when PROGRAM is clang-format 14, else why the check is skipped."""
    if not program or program.endswith("-NOTFOUND"):
        return "clang-format not found (tools/check installs it)"
    try:
        out = subprocess.run([program, "--version"], capture_output=True, text=True).stdout
    except OSError as error:
        return f"{program}: {error}"
    match = re.search(r"version (\d+)", out)
    if not match or int(match.group(1)) != VERSION:
        return f"{program} is not clang-format {VERSION} ({out.strip()}): layouts would differ"
    return None


def sources(root):
    for folder in FOLDERS:
        for base, dirs, files in os.walk(os.path.join(root, folder)):
            dirs.sort()
            for name in sorted(files):
                if name.endswith(SUFFIXES):
                    yield os.path.relpath(os.path.join(base, name), root)


def first_difference(path, program, root):
    """None when the file is as clang-format leaves it, else (line, what clang-format writes)."""
    with open(os.path.join(root, path), encoding="utf-8", errors="surrogateescape") as f:
        text = f.read()
    # clang-format finds the .clang-format above the file; --style=file refuses to fall back.
    done = subprocess.run([program, "--style=file", "--fallback-style=none", path], cwd=root,
                          capture_output=True, text=True, errors="surrogateescape", check=True)
    if done.stdout == text:
        return None
    have, want = text.splitlines(), done.stdout.splitlines()
    for number, (a, b) in enumerate(zip(have, want), 1):
        if a != b:
            return number, b
    return min(len(have), len(want)) + 1, "(the line breaks at the end of the file)"


def check(program, root):
    paths = list(sources(root))
    with concurrent.futures.ThreadPoolExecutor(max_workers=4) as pool:
        results = list(pool.map(lambda p: first_difference(p, program, root), paths))
    faults = [f"{p}:{r[0]}: clang-format writes: {r[1]}" for p, r in zip(paths, results) if r]
    return faults, len(paths)


def self_test(program):
    """One line indented as Google style would, not as the project's .clang-format says."""
    source_root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    good = "int F();\n\nint G() {\n    return 1;\n}\n"
    with tempfile.TemporaryDirectory() as tmp:
        shutil.copy(os.path.join(source_root, ".clang-format"), tmp)
        os.makedirs(os.path.join(tmp, "src"))
        os.makedirs(os.path.join(tmp, "tests"))
        with open(os.path.join(tmp, "src", "good.cpp"), "w") as f:
            f.write(good)
        with open(os.path.join(tmp, "tests", "bad.h"), "w") as f:
            f.write(good.replace("    return", "  return"))
        faults, count = check(program, tmp)
    if count != 2 or len(faults) != 1 or not faults[0].startswith("tests/bad.h:4: "):
        print("check_format self-test: expected one fault (tests/bad.h:4), got:", faults)
        return 1
    print("check_format self-test: the misformatted line is reported:", faults[0])
    return 0


def main(argv):
    if len(argv) < 2:
        print(__doc__)
        return 2
    program = argv[1]
    why = usable(program)
    if why:
        print(f"check_format: skipped: {why}")
        return SKIP
    if argv[2:] == ["--self-test"]:
        return self_test(program)
    root = argv[2] if len(argv) > 2 else os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    faults, count = check(program, root)
    for fault in faults:
        print(fault)
    if faults:
        print(f"check_format: {len(faults)} of {count} files differ from {program} with "
              f".clang-format; clang-format -i FILE lays each out")
        return 1
    print(f"check_format: {count} files as clang-format {VERSION} lays them out")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
