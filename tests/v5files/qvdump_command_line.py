#!/usr/bin/python3
"""qvdump as a user meets it: each row of the table runs the program given on the command line
(the build tree's or an installed one) and checks its exit status (0 every file read, 1 a file
refused, 2 misuse) and the stream that carries the expected text. Besides: a run that ends 0 says
nothing on standard error, misuse prints nothing on standard output, and a refusal's text is not
on standard output. The fixture files are written by tools/fixtures beside this checkout.
Started as root, the script runs qvdump as the ordinary user nobody (a copy of the program where
nobody may not reach it), so a file nobody may read is refused as a user meets it.

Usage: qvdump_command_line.py QVDUMP
"""
import os
import pwd
import re
import resource
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def fixture(script, *args):
    subprocess.run([sys.executable, os.path.join(ROOT, "tools", "fixtures", script), *args],
                   check=True, stdout=subprocess.DEVNULL)


def project_version():
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as cmake:
        return re.search(r"project\(quorin VERSION (\S+)", cmake.read()).group(1)


def bmp_size(width, height):
    # File and information headers, a 256-entry grey palette, rows padded to 4 bytes.
    return 14 + 40 + 1024 + (width + 3) // 4 * 4 * height


ORDINARY = pwd.getpwnam("nobody") if os.geteuid() == 0 else None


def as_user(setup=None):
    """What a child runs before qvdump: the row's own setup, then nobody's identity when root."""
    def run():
        if setup is not None:
            setup()
        if ORDINARY is not None:
            os.setgroups([])
            os.setgid(ORDINARY.pw_gid)
            os.setuid(ORDINARY.pw_uid)
    return run


def reachable(qvdump, work):
    """qvdump, or a copy in the work folder when the ordinary user may not run it where it is."""
    try:
        subprocess.run([qvdump, "--version"], preexec_fn=as_user(), capture_output=True,
                       check=True)
        return qvdump
    except (OSError, subprocess.SubprocessError):
        shutil.copy(qvdump, os.path.join(work, "qvdump"))
        return os.path.join(work, "qvdump")


def limit_file_size(limit):
    return lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    qvdump = os.path.abspath(sys.argv[1])
    work = tempfile.mkdtemp(prefix="qvdump-cli-")
    os.chdir(work)
    # Settings from an empty folder: none of the machine's user's can add a notice.
    os.mkdir("config")
    env = dict(os.environ, QUORIN_CONFIG_DIR=os.path.join(work, "config"))
    fixture("make_dicom_samples.py", work)
    fixture("v5files.py", "grey", "R12.tif", "--width", "37", "--height", "21")
    fixture("v5files.py", "grey", "R13.tif")
    fixture("group_files.py", "write", "fms", "series.xml")
    shutil.copy("sample.dcm", "-x")
    os.mkdir("folder")
    os.mkfifo("pipe")
    os.mkdir("kept")
    with open("kept/R.bmp", "wb") as f:
        f.write(b"old")
    with open("junk.dcm", "wb") as f:
        f.write(b"\0" * 128 + b"DICM" + b"\xff" * 64)
    with open("locked.dcm", "wb") as f:
        f.write(b"x")
    os.chmod("locked.dcm", 0)
    if ORDINARY is not None:
        os.chmod(work, 0o755)
        for folder, names, files in os.walk(work):
            for name in names + files:
                os.lchown(os.path.join(folder, name), ORDINARY.pw_uid, ORDINARY.pw_gid)
        os.chown(work, ORDINARY.pw_uid, ORDINARY.pw_gid)
        qvdump = reachable(qvdump, work)

    def size(path):
        return lambda out, err: os.path.getsize(path) if os.path.exists(path) else None

    # (arguments, exit status, stream, text[, (what to check, expected value)[, setup]])
    rows = [
        (["--help"], 0, "out", "Usage: qvdump"),
        (["-h"], 0, "out", "--bmp OUT.bmp"),
        (["--version"], 0, "out", "qvdump " + project_version()),
        ([], 2, "err", "no file given"),
        (["--bogus", "sample.dcm"], 2, "err", "--bogus"),
        (["-x"], 2, "err", "-x"),
        (["sample.dcm", "--page"], 2, "err", "--page"),
        (["--page", "abc", "R12.tif"], 2, "err", "'abc'"),
        (["--page", "-1", "R12.tif"], 2, "err", "'-1'"),
        (["--page", "0x1", "R12.tif"], 2, "err", "'0x1'"),
        (["--page", "99999999999", "R12.tif"], 2, "err", "99999999999"),
        (["R12.tif", "--bmp"], 2, "err", "--bmp"),
        (["--bmp", "a.bmp", "--bmp", "b.bmp", "R12.tif"], 2, "err", "--bmp"),
        (["--bmp", "two.bmp", "R12.tif", "R13.tif"], 2, "err", "exactly one older",
         (size("two.bmp"), None)),
        (["--bmp", "none.bmp", "sample.dcm"], 2, "err", "exactly one older",
         (size("none.bmp"), None)),
        # Options after the file they concern.
        (["R12.tif", "--bmp", "out.bmp"], 0, "out", "bmp: out.bmp",
         (size("out.bmp"), bmp_size(37, 21))),
        (["sample.dcm", "--header"], 0, "out", "pixel data, measured, not loaded"),
        (["--", "-x"], 0, "out", "== -x"),
        (["--group", "series.xml", "sample.dcm", "--group", "series.xml"], 0, "out",
         "# series.xml\n", (lambda out, err: re.findall(r"^(?:# |== )\S+", out, re.M),
                            ["# series.xml", "== sample.dcm", "# series.xml"])),
        (["folder"], 1, "err", "qvdump: folder: Is a directory\n"),
        (["missing.dcm"], 1, "err", "qvdump: missing.dcm: No such file or directory\n"),
        (["pipe"], 1, "err", "qvdump: pipe: not a regular file\n"),
        (["junk.dcm", "sample.dcm"], 1, "err", "qvdump: junk.dcm: status "),
        (["sample.dcm", "missing.dcm"], 1, "out", "== sample.dcm"),
        (["locked.dcm"], 1, "err", "qvdump: locked.dcm: Permission denied\n"),
        (["--bmp", "folder", "R12.tif"], 1, "err",
         "qvdump: folder: cannot write the BMP: Is a directory\n"),
        # A BMP past the file-size limit is refused whole: the old one stays, nothing beside it.
        (["--bmp", "kept/R.bmp", "R12.tif"], 1, "err", "cannot write the BMP: File too large",
         (lambda out, err: (open("kept/R.bmp", "rb").read(), os.listdir("kept")),
          (b"old", ["R.bmp"])), limit_file_size(1024)),
    ]

    faults = []
    for row in rows:
        args, status, stream, text = row[:4]
        check = row[4] if len(row) > 4 else None
        setup = row[5] if len(row) > 5 else None
        run = subprocess.run([qvdump, *args], capture_output=True, preexec_fn=as_user(setup),
                             env=env)
        out = run.stdout.decode("utf-8", "replace")
        err = run.stderr.decode("utf-8", "replace")
        said, other = (out, err) if stream == "out" else (err, out)
        problems = []
        if run.returncode != status:
            problems.append(f"exit {run.returncode}, not {status}")
        if text not in said:
            problems.append(f"no {text!r} on std{stream}")
        if stream == "err" and text in other:
            problems.append(f"{text!r} on standard output too")
        if status == 0 and err:
            problems.append("standard error not empty")
        if status == 2 and out:
            problems.append("standard output not empty")
        if check is not None and check[0](out, err) != check[1]:
            problems.append(f"{check[0](out, err)!r}, not {check[1]!r}")
        if problems:
            faults.append(f"qvdump {' '.join(args)}: {'; '.join(problems)}\n"
                          f"--- stdout:\n{out[-2000:]}--- stderr:\n{err[-2000:]}")
    # Both streams into one pipe: a refusal stands after what was dumped before it.
    merged = subprocess.run([qvdump, "sample.dcm", "missing.dcm", "R12.tif"],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            preexec_fn=as_user(), env=env).stdout.decode()
    order = re.findall(r"^(?:== |qvdump: )\S+", merged, re.M)
    if order != ["== sample.dcm", "qvdump: missing.dcm:", "== R12.tif"]:
        faults.append(f"merged streams in the order {order}")
    os.chdir(ROOT)
    shutil.rmtree(work)
    for fault in faults:
        print(fault)
    print(f"{len(rows) + 1 - len(faults)} of {len(rows) + 1} command lines as expected")
    sys.exit(1 if faults else 0)


if __name__ == "__main__":
    main()
