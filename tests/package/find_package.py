#!/usr/bin/python3
"""find_package(quorin) as a consumer's CMake project meets it, on this tree installed in a
temporary prefix, with libxml2's pkg-config file visible and hidden:
- after CMake's own find_package(LibXml2), every LIBXML2_* variable is as it was, and the only
  variables the package adds are its own (names holding "quorin"), CMake's PACKAGE_PREFIX_DIR and
  the cache entries of the finders it runs (pkg-config's program, the thread check);
- COMPONENTS static where libxml2 is not found fails saying why: libxml-2.0.pc, libxml2-dev;
  and where no thread library is, that it needs one.

Usage: find_package.py BUILD_DIR
"""
import os
import subprocess
import sys
import tempfile

CONSUMER = r"""cmake_minimum_required(VERSION 3.25)
project(consumer LANGUAGES CXX)
function(dump file)
  get_cmake_property(names VARIABLES)
  get_cmake_property(cached CACHE_VARIABLES)
  set(text "")
  foreach(name IN LISTS names)
    set(kind normal)
    if(name IN_LIST cached)
      set(kind cache)
    endif()
    string(REPLACE "\n" "\\n" value "${${name}}")
    string(APPEND text "${kind} ${name}=${value}\n")
  endforeach()
  file(WRITE ${file} "${text}")
endfunction()
find_package(LibXml2 REQUIRED)
dump(${CMAKE_BINARY_DIR}/before)
find_package(quorin 1 REQUIRED ${COMPONENTS})
dump(${CMAKE_BINARY_DIR}/after)
"""
# Cache entries of FindPkgConfig and FindThreads, which the package runs.
FINDERS = {"PKG_CONFIG_EXECUTABLE", "PKG_CONFIG_ARGN", "CMAKE_HAVE_LIBC_PTHREAD"}


def variables(path):
    found = {}
    with open(path, encoding="utf-8") as dump:
        for line in dump.read().splitlines():
            kind, _, rest = line.partition(" ")
            name, _, value = rest.partition("=")
            found[name] = (kind, value)
    return found


def configure(tmp, name, hidden, components="", *extra):
    env = {k: v for k, v in os.environ.items() if not k.startswith("PKG_CONFIG")}
    if hidden:
        env["PKG_CONFIG_LIBDIR"] = os.path.join(tmp, "no-pc")
    return subprocess.run(["cmake", "-S", os.path.join(tmp, "consumer"),
                           "-B", os.path.join(tmp, name), "-G", "Ninja",
                           "-DCMAKE_PREFIX_PATH=" + os.path.join(tmp, "prefix"),
                           "-DCOMPONENTS=" + components, *extra], env=env, capture_output=True, text=True)


def main(build):
    faults = []
    with tempfile.TemporaryDirectory() as tmp:
        subprocess.run(["cmake", "--install", build, "--prefix", os.path.join(tmp, "prefix")],
                       check=True, stdout=subprocess.DEVNULL)
        os.makedirs(os.path.join(tmp, "no-pc"))
        os.makedirs(os.path.join(tmp, "consumer"))
        with open(os.path.join(tmp, "consumer", "CMakeLists.txt"), "w", encoding="utf-8") as f:
            f.write(CONSUMER)
        for name, hidden, components in (("visible", False, "COMPONENTS;static"),
                                         ("hidden", True, "")):
            run = configure(tmp, name, hidden, components)
            if run.returncode != 0:
                faults.append(f"{name}: the consumer does not configure\n{run.stdout}{run.stderr}")
                continue
            before = variables(os.path.join(tmp, name, "before"))
            after = variables(os.path.join(tmp, name, "after"))
            for var in sorted(set(before) | set(after)):
                if var.startswith("LIBXML2_") and before.get(var) != after.get(var):
                    faults.append(f"{name}: {var} was {before.get(var)}, is {after.get(var)}")
            for var in sorted(set(after) - set(before)):
                kind = after[var][0]
                if "quorin" not in var and var != "PACKAGE_PREFIX_DIR" and not (
                        kind == "cache" and var in FINDERS):
                    faults.append(f"{name}: the package adds the {kind} variable {var}")
        if not os.path.exists(os.path.join(tmp, "hidden", "before")) or "LIBXML2_FOUND=TRUE" \
                not in open(os.path.join(tmp, "hidden", "before"), encoding="utf-8").read():
            faults.append("hidden: CMake's FindLibXml2 did not find libxml2 itself")
        for name, hidden, extra, words in (
                ("static-hidden", True, [], ["libxml-2.0.pc", "libxml2-dev"]),
                ("static-no-threads", False, ["-DCMAKE_DISABLE_FIND_PACKAGE_Threads=ON"],
                 ["a thread library"])):
            run = configure(tmp, name, hidden, "COMPONENTS;static", *extra)
            said = " ".join((run.stdout + run.stderr).split())
            if run.returncode == 0 or not all(word in said for word in words):
                faults.append(f"{name}: COMPONENTS static: exit status {run.returncode}, "
                              f"not naming {words}:\n{said}")
    for fault in faults:
        print("find_package(quorin): " + fault)
    return 1 if faults else 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1]))
