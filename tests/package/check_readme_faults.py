#!/usr/bin/python3
"""The README check (tools/check_readme) as CTest and tools/check run it, each of its steps
against a fault of what it checks: the check must fail (exit status 1) at that step, naming it.
BUILD_DIR is installed once; a fault is planted in a copy of that installed tree, or in a copy
of the checkout (README.md, tools/run) whose other entries are links to this one.
Then the check and this script are stopped mid-run, as CTest stops a test that runs out of time
(SIGKILL to each process), as a TERM or an interrupt does: nothing of theirs may stay in the
temporary folder they were given (TMPDIR), and what a killed run left in the build tree goes
when the next run starts. This script's own scratch lies in the build tree too.

Usage: check_readme_faults.py BUILD_DIR
"""
import glob
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
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
    ("the installed headers take a program in libstdc++'s debug mode", "prefix",
     "include/quorin/export.h", "#ifdef _GLIBCXX_DEBUG", "#ifdef _GLIBCXX_DEBUG_NEVER",
     "do not refuse a program built with _GLIBCXX_DEBUG"),
    ("the static link names quorin alone, without libxml2's own libraries", "repo", "README.md",
     "$(pkg-config --static --cflags --libs quorin libxml-2.0)",
     "$(pkg-config --static --cflags --libs quorin)", "README's pkg-config-static (g++) block"),
    ("the static example links the shared library", "repo", "README.md",
     "g++ -static -std=c++20 examples/quorin_example.cpp -o build/app-static",
     'g++ -std=c++20 examples/quorin_example.cpp -o build/app-static -Wl,-rpath,"$HOME/quorin/lib"',
     "the pkg-config-static (g++) block built needs a shared library"),
]
# (what is stopped, signal, the scratch folder of the stopped run that shows it is mid-run: for
# this script, a fault row's; for the check killed, a temporary file of a program it runs, in
# the TMPDIR it gives them)
STOPS = [
    ("readme.faults", signal.SIGKILL, "readme.faults.{pid}.*/[0-9]*"),
    ("readme.faults", signal.SIGTERM, "readme.faults.{pid}.*/[0-9]*"),
    ("check_readme", signal.SIGKILL, "check_readme.{pid}.*/tmp/*"),
    ("check_readme", signal.SIGTERM, "check_readme.{pid}.*/cmake-g++"),
    ("check_readme", signal.SIGINT, "check_readme.{pid}.*/cmake-clang++"),
]
STOPPED = "QUORIN_README_FAULTS_STOPPED"  # set in a run a row stops: it plants no stops itself


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


def stop(build, work, prefix, row):
    """Starts the row's program and stops it once its scratch shows it mid-run; returns its
    process id, or what it did wrong (ran on, left files in its TMPDIR or in the build tree)."""
    what, sig, mid_run = row
    given = os.path.join(work, "stops", f"{what}-{sig.name}")
    os.makedirs(given, mode=0o1777)
    os.chmod(given, 0o1777)
    command = [os.path.join(REPO, "tools", "check_readme"), build, prefix]
    if what == "readme.faults":
        command = [sys.executable, os.path.abspath(__file__), build]
    child = subprocess.Popen(command, env=dict(os.environ, TMPDIR=given, **{STOPPED: "1"}),
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                             start_new_session=True)  # its own group, which the signal reaches
    scratches = os.path.join(build, "Testing", "Temporary")
    deadline = time.monotonic() + 600
    while not glob.glob(os.path.join(scratches, mid_run.format(pid=child.pid))):
        if child.poll() is not None or time.monotonic() > deadline:
            try:
                os.killpg(child.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            child.wait()
            return f"{what} ended ({child.returncode}) before it was mid-run"
        time.sleep(0.1)
    os.killpg(child.pid, sig)
    stopped = time.monotonic()
    child.wait()
    if time.monotonic() - stopped > 30:  # it stops, rather than running on to its end
        return f"{what} ran on for {time.monotonic() - stopped:.0f} s after {sig.name}"
    if sig == signal.SIGKILL:
        time.sleep(0.2)  # the group's last processes
    left = sorted(os.listdir(given))
    ours = glob.glob(os.path.join(scratches, f"*.{child.pid}.*"))
    if left:
        return f"{what} stopped by {sig.name} left {left} in its TMPDIR"
    if ours and sig != signal.SIGKILL:
        return f"{what} stopped by {sig.name} left {ours} in the build tree"
    return child.pid


def stops(build, work, prefix):
    """The STOPS rows one after the other: a later run removes what a killed one left."""
    problems, pids = [], []
    for row in STOPS:
        result = stop(build, work, prefix, row)
        (pids if isinstance(result, int) else problems).append(result)
    scratches = os.path.join(build, "Testing", "Temporary")
    left = [path for pid in pids for path in glob.glob(os.path.join(scratches, f"*.{pid}.*"))]
    if left:
        problems.append(f"the runs after a killed one left its scratch {left}")
    return [f"NOT CAUGHT: a stopped run: {problem}" for problem in problems] or [
        "caught: every stopped run left nothing behind"]


def main(build):
    build = os.path.abspath(build)
    # A TERM, a hang-up or an interrupt removes the scratch as the end of the run does.
    for sig in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
        signal.signal(sig, lambda number, frame: sys.exit(128 + number))
    scratches = os.path.join(build, "Testing", "Temporary")
    os.makedirs(scratches, exist_ok=True)
    with tempfile.TemporaryDirectory(dir=scratches,
                                     prefix=f"readme.faults.{os.getpid()}.") as work:
        os.chmod(work, 0o755)  # the qvdump stand-in runs the real one as the user nobody
        prefix = os.path.join(work, "prefix")
        subprocess.run(["cmake", "--install", build, "--prefix", prefix], check=True,
                       stdout=subprocess.DEVNULL)
        # Stopped by a signal, map cancels the rows not begun; the running ones end at once.
        with ThreadPoolExecutor(max_workers=3) as pool:
            stopped = None
            if STOPPED not in os.environ:
                stopped = pool.submit(stops, build, work, prefix)
            results = list(pool.map(lambda fault: run(build, work, prefix, fault), FAULTS))
            if stopped:
                results += stopped.result()
    print("\n".join(results))
    return 1 if any(result.startswith("NOT CAUGHT") for result in results) else 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1]))
