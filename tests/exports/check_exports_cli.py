#!/usr/bin/env python3
"""The exports check as CTest and tools/check run it: through its command line and exit status.

A small header declares two functions; the library defines one and only calls the other, so nm
lists that one undefined. The check must fail (exit status 1) and name it, and only it.

Usage: check_exports_cli.py CLANG CHECK_EXPORTS_SCRIPT   (exit status 77 without clang++)
"""
import os
import subprocess
import sys
import tempfile

HEADER = "#pragma once\nvoid Kept();\nvoid Forgotten(int);\n"
SOURCE = "#include <quorin/kept.h>\nvoid Kept() { Forgotten(1); }\n"
WANTED = ["include/quorin/kept.h:3: not exported: Forgotten(int)"]


def main(clang, script):
    if not clang or clang.endswith("-NOTFOUND"):
        print("check_exports_cli: skipped: clang++ not found")
        return 77
    sys.path.insert(0, os.path.dirname(os.path.abspath(script)))
    from check_exports import build_kept  # the self-test's own small library
    with tempfile.TemporaryDirectory() as tmp:
        library = build_kept(clang, tmp, HEADER, SOURCE)
        run = subprocess.run([sys.executable, script, clang, library, tmp], capture_output=True,
                             text=True)
    faults = [line for line in run.stdout.splitlines() if "not exported:" in line]
    if run.returncode != 1 or faults != WANTED:
        print(f"check_exports_cli: expected exit status 1 and {WANTED}, got {run.returncode} "
              f"and {faults}\n{run.stdout}{run.stderr}")
        return 1
    print("check_exports_cli: the function the library only calls fails the check:", faults[0])
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        print(__doc__)
        sys.exit(2)
    sys.exit(main(sys.argv[1], sys.argv[2]))
