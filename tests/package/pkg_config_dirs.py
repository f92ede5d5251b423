#!/usr/bin/python3
"""quorin.pc where a packager gives the install folders whole (-DCMAKE_INSTALL_LIBDIR=/usr/lib64):
each row configures the checkout with its folders (nothing built), writes quorin.pc as
cmake --install does, lays the library and headers of BUILD_DIR's install where the folders say,
and checks pkg-config's --cflags --libs (a folder given whole is written whole, one given
relative lies below the prefix however deep, as a multiarch lib/x86_64-linux-gnu, a folder
holding a space is one word), then builds the example with them and runs it.

Usage: pkg_config_dirs.py BUILD_DIR
"""
import glob
import os
import shlex
import shutil
import subprocess
import sys
import tempfile

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def main(build):
    faults = []
    with tempfile.TemporaryDirectory() as tmp:
        built = os.path.join(tmp, "built")
        subprocess.run(["cmake", "--install", build, "--prefix", built], check=True,
                       stdout=subprocess.DEVNULL)
        # (row, CMAKE_INSTALL_LIBDIR, CMAKE_INSTALL_INCLUDEDIR), below tmp where whole; the
        # row's folder holds the prefix, so a row with a space in its name has one there too
        for row, libdir, includedir in (("lib-whole", "/abs/lib64", "include"),
                                        ("include-whole", "lib", "/abs/inc"),
                                        ("both-whole", "/abs/lib64", "/abs/inc"),
                                        ("include whole spaced", "lib", "/opt/q/my inc"),
                                        ("both whole spaced", "/abs/my lib64", "/abs/my inc"),
                                        ("relative spaced", "my lib", "my inc"),
                                        ("multiarch", "lib/x86_64-linux-gnu", "include")):
            work, prefix = os.path.join(tmp, row), os.path.join(tmp, row, "prefix")
            given = [work + path if path.startswith("/") else path for path in (libdir, includedir)]
            libdir, includedir = (os.path.join(prefix, path) for path in given)
            tree = os.path.join(work, "tree")
            subprocess.run(["cmake", "-S", REPO, "-B", tree, "-G", "Ninja", "-DQUORIN_TESTS=OFF",
                            "-DCMAKE_INSTALL_LIBDIR=" + given[0],
                            "-DCMAKE_INSTALL_INCLUDEDIR=" + given[1]], check=True,
                           stdout=subprocess.DEVNULL)
            # cmake --install's own step for quorin.pc: the library is not built here
            subprocess.run(["cmake", "-DCMAKE_INSTALL_PREFIX=" + prefix, "-P",
                            os.path.join(tree, "quorin_pc.cmake")], check=True)
            os.makedirs(os.path.join(libdir, "pkgconfig"))
            shutil.copy(os.path.join(tree, "quorin.pc"), os.path.join(libdir, "pkgconfig"))
            shutil.copytree(os.path.join(built, "include"), includedir)
            for lib in glob.glob(os.path.join(built, "lib", "libquorin.so*")):
                shutil.copy(lib, libdir, follow_symlinks=False)
            env = dict(os.environ, PKG_CONFIG_PATH=os.path.join(libdir, "pkgconfig"))
            # as a shell splits them: a space within a folder is written "\\ "
            flags = shlex.split(subprocess.run(["pkg-config", "--cflags", "--libs", "quorin"],
                                               env=env, check=True, capture_output=True,
                                               text=True).stdout)
            got = [flag[:2] + os.path.normpath(flag[2:]) if flag[:2] in ("-I", "-L") else flag
                   for flag in flags]
            wanted = ["-I" + includedir, "-L" + libdir, "-lquorin"]
            if got != wanted:
                faults.append(f"{row}: pkg-config --cflags --libs gives {got}, not {wanted}")
                continue
            app = os.path.join(work, "app")
            compiled = subprocess.run(["g++", "-std=c++20",
                                       os.path.join(REPO, "examples", "quorin_example.cpp"), "-o",
                                       app, *got, "-Wl,-rpath," + libdir],
                                      capture_output=True, text=True)
            if compiled.returncode != 0:
                faults.append(f"{row}: the example does not build:\n{compiled.stderr[-2000:]}")
                continue
            checked = subprocess.run([
                "/usr/bin/python3", os.path.join(REPO, "tools", "fixtures", "example_check.py"),
                app, os.path.join(work, "run")], capture_output=True, text=True)
            if checked.returncode != 0:
                faults.append(f"{row}: the example built with them:\n{checked.stderr[-2000:]}")
    for fault in faults:
        print("quorin.pc: " + fault)
    return 1 if faults else 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    sys.exit(main(os.path.abspath(sys.argv[1])))
