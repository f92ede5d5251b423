#!/usr/bin/python3
"""The README check (tools/check_readme) as CTest and tools/check run it, each of its steps
against a fault of what it checks: the check must fail (exit status 1) at that step, naming it.
BUILD_DIR is installed once; a fault is planted in a copy of that installed tree, or in a copy
of the checkout (README.md, tools/run) whose other entries are links to this one.

Usage: check_readme_faults.py BUILD_DIR
"""
import glob
import os
import shutil
import subprocess
import sys
import tempfile
from concurrent.futures import ThreadPoolExecutor

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TARGETS = "lib/cmake/quorin/quorinTargets.cmake"
STATIC_TARGETS = "lib/cmake/quorin/quorinStaticTargets.cmake"
STATIC_TARGETS_BUILT = "lib/cmake/quorin/quorinStaticTargets-*.cmake"  # of the build type
CONFIG = "lib/cmake/quorin/quorinConfig.cmake"
PC = "lib/pkgconfig/quorin.pc"
STAND_IN = '#!/bin/sh\n# qvdump reporting every failure as success\n"%s" "$@"\nexit 0\n'
BUILT = "the build tree's"  # "from": the file is replaced by the build tree's file "to"

# (fault, where: "repo" or "prefix", file, from, to, the step the check must fail at)
FAULTS = [
    ("the CMake block asks for C++20 itself", "repo", "README.md",
     "project(app LANGUAGES CXX)\n", "project(app LANGUAGES CXX)\nset(CMAKE_CXX_STANDARD 20)\n",
     "asks for a C++ standard itself"),
    ("tools/run drops the program's arguments", "repo", "tools/run",
     'exec "$build/$program" "$@"', 'exec "$build/$program"', "README's qvdump block"),
    ("the shared target does not ask for C++20", "prefix", TARGETS,
     '  INTERFACE_COMPILE_FEATURES "cxx_std_20"\n', "", "README's cmake (g++) block"),
    ("the package hands on a warning option only GCC knows", "prefix", TARGETS,
     '  INTERFACE_COMPILE_FEATURES "cxx_std_20"\n',
     '  INTERFACE_COMPILE_FEATURES "cxx_std_20"\n  INTERFACE_COMPILE_OPTIONS "-Wno-restrict"\n',
     "README's cmake (clang++) block"),
    ("quorin.pc's Cflags hold an option only GCC knows", "prefix", PC,
     "Cflags: -I${includedir}", "Cflags: -I${includedir} -fconcepts-diagnostics-depth=2",
     "README's pkg-config (clang++) block"),
    ("the package needs libxml2's pkg-config file", "prefix", CONFIG,
     "include(${CMAKE_CURRENT_LIST_DIR}/quorinTargets.cmake)\n",
     "include(${CMAKE_CURRENT_LIST_DIR}/quorinTargets.cmake)\nfind_package(PkgConfig REQUIRED)\n"
     "pkg_check_modules(needed REQUIRED libxml-2.0)\n", "README's cmake (g++) block"),
    ("quorin.pc requires libxml-2.0", "prefix", PC, "Libs.private: -lxml2 -pthread",
     "Requires.private: libxml-2.0\nLibs.private: -pthread", "README's pkg-config (g++) block"),
    ("the static target is the shared library", "prefix", STATIC_TARGETS_BUILT,
     'libquorin.a"\n  )', 'libquorin.so"\n  )', "linked with quorin::quorin_static needs"),
    ("the static target hands on a layout of the records not the library's", "prefix",
     STATIC_TARGETS, '  INTERFACE_COMPILE_FEATURES "cxx_std_20"\n',
     '  INTERFACE_COMPILE_FEATURES "cxx_std_20"\n  INTERFACE_COMPILE_OPTIONS "-fpack-struct=1"\n',
     "the program the static-target block built"),
    ("the static target is offered without libxml2", "prefix", CONFIG,
     'if(_quorin_static_missing STREQUAL "")', "if(TRUE)", "QUIET without libxml2"),
    ("the installed qvdump reports every failure as success", "prefix", "bin/qvdump", None, None,
     "the installed qvdump's command line"),
    ("the installed libquorin.a is the tree's own, every internal name global", "prefix",
     "lib/libquorin.a", BUILT, "libquorin.a", "README's static-target block"),
]


def plant(path, old, new):
    with open(path, encoding="utf-8") as f:
        text = f.read()
    if text.count(old) != 1:
        raise SystemExit(f"check_readme_faults: {old!r} is not once in {path}")
    os.remove(path)  # a link into this checkout, or a copy: the original stays as it is
    with open(path, "w", encoding="utf-8") as f:
        f.write(text.replace(old, new))
    os.chmod(path, 0o755)


def checkout(dest, planted):
    """A folder laid out like this checkout, each entry a link, except the planted file's."""
    os.makedirs(dest)
    for entry in os.listdir(REPO):
        if entry not in ("build", ".git"):
            os.symlink(os.path.join(REPO, entry), os.path.join(dest, entry))
    parent = os.path.dirname(planted)
    if parent:  # the planted file's folder: real, its entries links
        os.remove(os.path.join(dest, parent))
        os.makedirs(os.path.join(dest, parent))
        for entry in os.listdir(os.path.join(REPO, parent)):
            os.symlink(os.path.join(REPO, parent, entry), os.path.join(dest, parent, entry))
    return dest


def run(build, work, prefix, fault):
    what, where, path, old, new, step = fault
    dest = os.path.join(work, str(FAULTS.index(fault)))
    repo = REPO
    if where == "repo":
        repo = checkout(os.path.join(dest, "repo"), path)
        plant(os.path.join(repo, path), old, new)
    else:
        shutil.copytree(prefix, os.path.join(dest, "prefix"), symlinks=True)
        if old is BUILT:
            shutil.copy(os.path.join(build, new), os.path.join(dest, "prefix", path))
        elif old is None:
            with open(os.path.join(dest, "prefix", path), "w", encoding="utf-8") as f:
                f.write(STAND_IN % os.path.join(prefix, path))
        else:
            plant(glob.glob(os.path.join(dest, "prefix", path))[0], old, new)
        prefix = os.path.join(dest, "prefix")
    check = subprocess.run([os.path.join(repo, "tools", "check_readme"), build, prefix],
                           capture_output=True, text=True)
    said = [line for line in check.stderr.splitlines() if line.startswith("!! README check")]
    if check.returncode == 1 and said and step in said[-1]:
        return f"caught: {what}: {said[-1]}"
    return (f"NOT CAUGHT: {what}: expected exit status 1 and the step {step!r}, got "
            f"{check.returncode} and {said}\n{check.stderr[-3000:]}")


def main(build):
    build = os.path.abspath(build)
    with tempfile.TemporaryDirectory() as work:
        os.chmod(work, 0o755)  # the qvdump stand-in runs the real one as the user nobody
        prefix = os.path.join(work, "prefix")
        subprocess.run(["cmake", "--install", build, "--prefix", prefix], check=True,
                       stdout=subprocess.DEVNULL)
        with ThreadPoolExecutor(max_workers=3) as pool:
            results = list(pool.map(lambda fault: run(build, work, prefix, fault), FAULTS))
    print("\n".join(results))
    return 1 if any(result.startswith("NOT CAUGHT") for result in results) else 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1]))
