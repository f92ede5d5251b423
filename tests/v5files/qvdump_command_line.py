#!/usr/bin/python3
"""qvdump as a user meets it: each row of the table runs the program given on the command line
(the build tree's or an installed one) and checks its exit status (0 every file read, 1 a file
refused or the dump not written, 2 misuse) and the stream that carries the expected texts.
Besides: a run that ends 0 says nothing on standard error (unless the row expects a notice
there), misuse prints nothing on standard output, a refusal's text is not on standard output, no
control character but the line break reaches either stream, and every file of the work folder
is byte-identical afterwards but those the row makes. The fixture files are written by
tools/fixtures beside this checkout.
Started as root, the script runs qvdump as the ordinary user nobody (a copy of the program where
nobody may not reach it), so a file nobody may read is refused as a user meets it. Rows that
cannot run here (a file system it cannot mount, files of other users when not root) are named,
and the script then exits 77 (skipped) unless a row failed (1).

Usage: qvdump_command_line.py QVDUMP
"""
import errno
import hashlib
import os
import pwd
import re
import resource
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time

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


SKIPPED = 77  # the exit status of a run that left rows out (CTest's SKIP_RETURN_CODE)

# A run under strace: the leak checker of a sanitized build cannot work under ptrace.
TRACED_ENV = {"ASAN_OPTIONS": ":".join(
    filter(None, (os.environ.get("ASAN_OPTIONS", ""), "detect_leaks=0")))}


def as_user(setup=None, uid=None):
    """What a child runs before qvdump: the row's own setup, then nobody's identity when root
    (`uid` 0: root's own)."""
    def run():
        if setup is not None:
            setup()
        if ORDINARY is not None and uid != 0:
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


def read(path):
    with open(path, "rb") as f:
        return f.read()


def limit(which, value):
    return lambda: resource.setrlimit(which, (value, value))


def close_stdout():
    os.close(1)


def deleted_on_fd3():
    """Descriptor 3 open on a file that was deleted (`exec 3>gone.bmp; rm gone.bmp`)."""
    fd = os.open("gone.bmp", os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
    if ORDINARY is not None:  # the user's own file, as `exec 3>` makes it
        os.fchown(fd, ORDINARY.pw_uid, ORDINARY.pw_gid)
    os.unlink("gone.bmp")
    os.dup2(fd, 3)


def owner(path):
    return lambda out, err: os.stat(path).st_uid


def bmp_of_raw(bmp, raw):
    """Whether the BMP holds the pixels of the raw file (PIL reads it)."""
    def check(out, err):
        from PIL import Image
        import numpy
        return (os.path.exists(bmp) and
                numpy.asarray(Image.open(bmp)).tobytes() == read(raw))
    return check


def size_in_unlistable(folder, name):
    """The size of folder/name, the folder given back its listing first (None: no file)."""
    def check(out, err):
        os.chmod(folder, 0o700)
        path = os.path.join(folder, name)
        return os.path.getsize(path) if os.path.exists(path) else None
    return check


def stderr_to_errlog():
    os.dup2(os.open("errlog", os.O_WRONLY | os.O_APPEND), 2)


def ignore_sigpipe():
    signal.signal(signal.SIGPIPE, signal.SIG_IGN)


def snapshot(work):
    """Every name under the work folder with what it holds (a regular file's digest, or its size
    and change time where this user may not read it); the settings folders, where the library
    keeps its own state, left out."""
    state = {}
    for folder, names, files in os.walk(work):
        if folder == work:
            names[:] = [name for name in names if name not in ("config", "cfg\x1b")]
        for name in names + files:
            path = os.path.join(folder, name)
            mode = os.lstat(path).st_mode
            if stat.S_ISREG(mode) and os.access(path, os.R_OK):
                with open(path, "rb") as f:
                    state[os.path.relpath(path, work)] = hashlib.sha1(f.read()).hexdigest()
            elif stat.S_ISREG(mode):
                info = os.lstat(path)
                state[os.path.relpath(path, work)] = (info.st_size, info.st_mtime_ns)
            else:
                state[os.path.relpath(path, work)] = (stat.S_IFMT(mode), os.path.islink(path)
                                                      and os.readlink(path))
    return state


def changed(before, after):
    return {name for name in before.keys() | after.keys() if before.get(name) != after.get(name)}


def mount_tmpfs(folder, options):
    """A small file system of its own at `folder` (root only); False where none can be mounted."""
    os.mkdir(folder)
    if os.geteuid() != 0:
        return False
    owner = f",uid={ORDINARY.pw_uid},gid={ORDINARY.pw_gid}"
    return subprocess.run(["mount", "-t", "tmpfs", "-o", options + owner + ",mode=0755", "tmpfs",
                           folder], capture_output=True).returncode == 0


def ending_signals():
    """Every signal whose default action ends a process, as the kernel answers: each sent to a
    `sleep` of its own that has them all at their default, those that end it. SIGKILL aside: no
    process may catch or hold it."""
    def at_default():
        for signum in signal.valid_signals() - {signal.SIGKILL, signal.SIGSTOP}:
            signal.signal(signum, signal.SIG_DFL)
    sleeps = {signum: subprocess.Popen(["sleep", "10"], preexec_fn=at_default)
              for signum in signal.valid_signals() - {signal.SIGKILL}}
    for signum, run in sleeps.items():
        run.send_signal(signum)
    time.sleep(0.3)
    ending = sorted(signum for signum, run in sleeps.items() if run.poll() == -signum)
    for run in sleeps.values():
        run.kill()
        run.wait()
    return ending


def interrupted_bmp(qvdump, env, work, signum, ignored=False, folder="big", name="out.bmp",
                    goes_on=False):
    """A --bmp into `folder`/`name` (holding "old") ended by `signum` while it writes its
    temporary file: the problems seen. Where the signal is ignored (nohup), or `goes_on` (its
    default leaves a process running), the save goes on."""
    before = snapshot(work)
    # The signal at its default, or ignored, whatever this script was started with.
    disposition = lambda: signal.signal(signum, signal.SIG_IGN if ignored else signal.SIG_DFL)
    temporary = lambda: any(entry.startswith(f".{name}.") for entry in os.listdir(folder))
    out = name if folder == "." else os.path.join(folder, name)  # "." a bare name
    for _ in range(5):
        run = subprocess.Popen([qvdump, "--bmp", out, "big/R40.tif"],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               preexec_fn=as_user(disposition), env=env)
        signalled = False
        while run.poll() is None and not signalled:
            if temporary():
                # Stopped where the temporary file is, the signal waits for it to go on.
                run.send_signal(signal.SIGSTOP)
                signalled = temporary()
                if signalled:
                    run.send_signal(signum)
                run.send_signal(signal.SIGCONT)
        run.wait()
        if signalled:
            break
        # Done before its temporary file was seen (a busy machine): the target back, once more.
        with open(out, "wb") as f:
            f.write(b"old")
    problems = []
    if ignored or goes_on:
        if run.returncode != 0 or read(out) != read("big/whole.bmp"):
            problems.append(f"exit {run.returncode}, the BMP not written")
        with open(out, "wb") as f:
            f.write(b"old")
    elif run.returncode != -signum:
        problems.append(f"exit {run.returncode}, not killed by signal {signum}")
    elif read(out) != b"old" or temporary():
        problems.append(f"{sorted(os.listdir(folder))} in the folder, the target changed or beside")
    if changed(before, snapshot(work)):
        problems.append(f"{sorted(changed(before, snapshot(work)))} changed")
    return problems


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
    os.mkdir("big")
    fixture("v5files.py", "grey", "big/R40.tif", "--width", "4000", "--height", "4000")
    for path in ("big/out.bmp", "bare.bmp"):
        with open(path, "wb") as f:
            f.write(b"old")
    fixture("group_files.py", "write", "fms", "series.xml")
    shutil.copy("sample.dcm", "-x")
    os.mkdir("folder")
    os.mkfifo("pipe")
    os.mkdir("R14.tif")
    os.mkdir("d.fms")
    os.mkfifo("R15.tif")
    os.mkfifo("p.cqv")
    # Names as the system reads them: a backslash is part of a name, "c:" no drive.
    os.mkdir("keep")
    with open("keep/me.bmp", "wb") as f:
        f.write(b"precious\n")
    os.mkdir("x")
    shutil.copy("R13.tif", "x/R13.tif")
    shutil.copy("R12.tif", "x\\R12.tif")
    shutil.copy("R12.tif", "c:R12.tif")
    os.mkdir("k\\d")
    shutil.copy("R12.tif", "k\\d/R12.tif")
    shutil.copy("sample.dcm", "d\\x.dcm")
    shutil.copy("series.xml", "g\\s.xml")
    # Names the group readers trim at an end, beside the names they would read instead.
    os.mkdir("sub")
    for name, decoy in (("\fs.fms", "s.fms"), ("s.fms\v", "s.fms"), ("sub/x.fms\f", "sub/x.fms")):
        shutil.copy("series.xml", name)
        with open(decoy, "wb"):
            pass
    os.symlink("big/R40.tif", "b\\big.tif")  # long to read, through a link of qvdump's
    os.mkdir("many")  # names with a backslash, each read through a link
    for i in range(60):
        os.link("R12.tif", f"many/n\\{i}.tif")
    os.mkdir("rotmp", 0o555)  # a $TMPDIR the user may not write
    os.mkdir("drive_c")
    shutil.copy("R13.tif", "drive_c/R12.tif")  # what C:R12.tif would name on a drive
    shutil.copy("R12.tif", "C:R12.tif")
    os.mkdir("gtmp")  # a group's shared $TMPDIR, its set-group-ID bit given below
    env["QUORIN_DRIVE_C"] = os.path.join(work, "drive_c")
    os.mkdir("tmp")  # where qvdump's own links to such names live and go
    env["TMPDIR"] = os.path.join(work, "tmp")
    # A series of two pages, a file with a reduced image.
    fixture("v5files.py", "fms", "B1.tif", "--pages", "2", "--width", "30", "--height", "20")
    fixture("v5files.py", "grey", "R16.tif", "--width", "37", "--height", "21", "--reduced")
    os.mkdir("wx")  # made unlistable (0300) by its row
    long_folder = "l" * 200
    os.mkdir(long_folder)
    with open(os.path.join(long_folder, "out.bmp"), "wb") as f:
        f.write(b"old")
    os.makedirs("config/root")  # root's own settings
    os.mkdir("kept")
    os.mkdir("inplace")
    with open("inplace/out.bmp", "wb") as f:  # there before its folder takes no new file
        f.write(b"old")
    with open("kept/R.bmp", "wb") as f:
        f.write(b"old")
    with open("junk.dcm", "wb") as f:
        f.write(b"\0" * 128 + b"DICM" + b"\xff" * 64)
    with open("locked.dcm", "wb") as f:
        f.write(b"x")
    os.chmod("locked.dcm", 0)
    with open("log", "wb") as f:
        f.write(b"the log\n")
    with open("errlog", "wb"):
        pass
    with open("empty.fms", "wb"):
        pass
    with open("other.fms", "w", encoding="ascii") as f:
        f.write("<!--x--><OTHER_DATA><Version>4</Version></OTHER_DATA>\n")
    # A syntax the reader does not take (RLE), named in place of explicit VR little endian.
    with open("sample.dcm", "rb") as f:
        data = f.read()
    with open("rle.dcm", "wb") as f:
        f.write(data.replace(b"1.2.840.10008.1.2.1\0", b"1.2.840.10008.1.2.5\0", 1))
    # Control characters from a file's values and from file names.
    subprocess.run([sys.executable, "-c", "import pydicom, sys; d = pydicom.dcmread(sys.argv[1]); "
                    "d.PatientName = 'Doe\\x1b[2J^Jo\\x07'; d.ManufacturerModelName = "
                    "'Z\\x1b]0;x\\x07'; d.save_as(sys.argv[2])", "sample.dcm", "ctl\x1b[2J.dcm"],
                   check=True)
    with open("R12.tif", "rb") as f, open("R\x1b[2J.tif", "wb") as g:
        g.write(f.read().replace(b"Caries distal", b"Caries\x1bdistal", 1))
    shutil.copy("sample.dcm", "c\x9b.dcm")  # a C1 control character in UTF-8
    shutil.copy("sample.dcm", "\u00e9.dcm")
    shutil.copy("sample.dcm", os.fsdecode(b"o\xe0\x83\xa9.dcm"))  # U+00E9 in too many bytes
    os.symlink("R12.tif", "alias.bmp")
    os.symlink("loop.bmp", "loop.bmp")
    os.mkdir("cfg\x1b")
    with open("cfg\x1b/user.reg", "w", encoding="ascii") as f:
        f.write("x\n")
    os.chmod("cfg\x1b/user.reg", 0)
    full = read_only = False
    try:
        if ORDINARY is not None:
            os.chmod(work, 0o755)
            for folder, names, files in os.walk(work):
                for name in names + files:
                    os.lchown(os.path.join(folder, name), ORDINARY.pw_uid, ORDINARY.pw_gid)
            os.chown(work, ORDINARY.pw_uid, ORDINARY.pw_gid)
            qvdump = reachable(qvdump, work)
            # A shared folder of root's (1777) holding files other users made.
            os.mkdir("sticky")
            os.chmod("sticky", 0o1777)
            for name, uid, mode in (("xray.bmp", ORDINARY.pw_uid, 0o644),
                                    ("theirs.bmp", 1001, 0o666)):
                with open(f"sticky/{name}", "wb") as f:
                    f.write(b"planted\n")
                os.chmod(f"sticky/{name}", mode)
                os.chown(f"sticky/{name}", uid, uid)
        os.chmod("gtmp", 0o2777)
        full = mount_tmpfs("full", "size=8k")
        # Read-only, holding a file.
        read_only = mount_tmpfs("ro", "size=8k")
        if read_only:
            with open("ro/old.bmp", "wb") as f:
                f.write(b"old")
            read_only = subprocess.run(["mount", "-o", "remount,ro", "ro"]).returncode == 0
        faults, skipped = run_table(qvdump, env, work, full, read_only)
    finally:
        os.chdir(ROOT)
        for folder in ("full", "ro"):
            subprocess.run(["umount", os.path.join(work, folder)], capture_output=True)
        shutil.rmtree(work)
    for fault in faults:
        print(fault)
    for reason in skipped:
        print(f"skipped: {reason}")
    sys.exit(1 if faults else SKIPPED if skipped else 0)


def interrupted_in_place(qvdump, env, signum, sanitized=False):
    """A --bmp written in place (its folder takes no new file) ended by `signum` once the target
    begins to change: the problems seen. The write, once begun, ends whole. (The address
    sanitizer's own handlers take SIGSEGV, SIGBUS and SIGFPE, and end qvdump their way.)"""
    with open("inplace/out.bmp", "wb") as f:
        f.write(b"old")
    if ORDINARY is not None:
        os.chown("inplace/out.bmp", ORDINARY.pw_uid, ORDINARY.pw_gid)
    for _ in range(5):
        run = subprocess.Popen([qvdump, "--bmp", "inplace/out.bmp", "big/R40.tif"],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               preexec_fn=as_user(lambda: signal.signal(signum, signal.SIG_DFL)),
                               env=env)
        while run.poll() is None and os.path.getsize("inplace/out.bmp") == 3:
            pass
        # Sent while the write is under way, the signal ends qvdump once it is over.
        begun = run.poll() is None
        run.send_signal(signum)
        run.wait()
        if begun:
            break
    problems = []
    taken = sanitized and signum in (signal.SIGSEGV, signal.SIGBUS, signal.SIGFPE)
    if run.returncode != -signum and not (taken and run.returncode != 0):
        problems.append(f"exit {run.returncode}, not killed by signal {signum}")
    if read("inplace/out.bmp") != read("big/whole.bmp"):
        problems.append(f"the target holds {os.path.getsize('inplace/out.bmp')} bytes, not the "
                        "whole BMP")
    return problems


def terminated_in_lock_wait(qvdump, env):
    """SIGTERM 1 s into a save in place whose lock a reader holds for 8 s: the problems seen.
    Nothing of the target is written yet, so qvdump ends at once and the target stays."""
    with open("inplace/out.bmp", "wb") as f:
        f.write(b"old")
    if ORDINARY is not None:
        os.chown("inplace/out.bmp", ORDINARY.pw_uid, ORDINARY.pw_gid)
    peer = subprocess.Popen(
        [sys.executable, "-c", "import fcntl,sys,time\nf=open(sys.argv[1],'rb')\n"
         "fcntl.flock(f,fcntl.LOCK_EX)\nprint('held',flush=True)\ntime.sleep(8)",
         "inplace/out.bmp"], stdout=subprocess.PIPE, preexec_fn=as_user())
    problems = []
    try:
        assert peer.stdout.readline() == b"held\n"
        start = time.monotonic()
        run = subprocess.Popen([qvdump, "--bmp", "inplace/out.bmp", "R12.tif"],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env,
                               preexec_fn=as_user(lambda: signal.signal(signal.SIGTERM,
                                                                        signal.SIG_DFL)))
        time.sleep(1)
        run.send_signal(signal.SIGTERM)
        run.wait()
        took = time.monotonic() - start
    finally:
        peer.kill()
        peer.wait()
    if run.returncode != -signal.SIGTERM:
        problems.append(f"exit {run.returncode}, not killed by signal {signal.SIGTERM}")
    if took > 4:
        problems.append(f"ended after {took:.1f} s, not at once")
    if read("inplace/out.bmp") != b"old":
        problems.append("the target changed")
    return problems


def interrupted_link(qvdump, env, signum):
    """qvdump over a 4000 x 4000 file read through a link of its own, ended by `signum` while the
    link's folder is there: the problems seen. The folder goes with the signal."""
    tmp = env["TMPDIR"]
    for _ in range(5):
        run = subprocess.Popen([qvdump, "b\\big.tif"], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, env=env, preexec_fn=as_user(
                                   lambda: signal.signal(signum, signal.SIG_DFL)))
        signalled = False
        while run.poll() is None and not signalled:
            if os.listdir(tmp):
                run.send_signal(signum)
                signalled = True
        run.wait()
        if signalled:
            break
    problems = [] if run.returncode == -signum else [f"exit {run.returncode}, not the signal"]
    if os.listdir(tmp):
        problems.append(f"{sorted(os.listdir(tmp))} left in $TMPDIR")
    return problems


def signalled_over_names(qvdump, env, runs=300):
    """`timeout -s INT 0.0$RANDOM qvdump` over 60 names with a backslash, `runs` times: the
    problems seen. Nothing of qvdump's stays in $TMPDIR, wherever the signal falls."""
    import random
    names = sorted(f"many/{name}" for name in os.listdir("many"))
    problems = []
    for _ in range(runs):
        run = subprocess.Popen([qvdump, *names], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, env=env, preexec_fn=as_user(
                                   lambda: signal.signal(signal.SIGINT, signal.SIG_DFL)))
        time.sleep(random.randrange(32768) / 1e6)
        run.send_signal(signal.SIGINT)
        if run.wait() not in (0, -signal.SIGINT):
            problems.append(f"exit {run.returncode}")
    left = os.listdir(env["TMPDIR"])
    if left:
        problems.append(f"{len(left)} entries left in $TMPDIR: {sorted(left)[:5]}")
    return problems


def steered_tmpdir(qvdump, env, work):
    r"""`qvdump 'b\big.tif'` (4000 x 4000) with $TMPDIR a shared (1777) folder of another user
    (uid 1001) who, as each qvdump.* folder appears, moves it away and puts in its place a link
    to a folder of theirs holding their own b_big.tif (37 x 21), a link to the victim's private
    docs/ (holding the victim's b_big.tif), the victim's own folder, or a private folder of theirs:
    the problems seen. The victim (nobody, or root) reads its own file or refuses, and loses
    nothing. Where strace can hold qvdump after each mkdir, the swap comes before qvdump opens
    the folder it made."""
    attack = tempfile.mkdtemp(prefix="qvdump-shared-")
    os.chmod(attack, 0o755)
    shared, theirs, home, mine, vault = (
        os.path.join(attack, name) for name in ("tmp", "theirs", "home", "tmp/mine", "tmp/vault"))
    os.mkdir(shared)
    os.chmod(shared, 0o1777)
    os.makedirs(os.path.join(home, "docs"))
    for path in ("b\\big.tif", "docs/b_big.tif"):
        os.link("big/R40.tif", os.path.join(home, path))
    for path in (home, os.path.join(home, "docs")):
        os.chown(path, ORDINARY.pw_uid, ORDINARY.pw_gid)
    os.chmod(os.path.join(home, "docs"), 0o700)  # private, as a link folder made by mkdtemp
    for folder, mode in ((theirs, 0o755), (vault, 0o700)):
        os.mkdir(folder, mode)
        shutil.copy("R12.tif", os.path.join(folder, "b_big.tif"))
    for path in (shared, theirs, vault, f"{theirs}/b_big.tif", f"{vault}/b_big.tif"):
        os.chown(path, 1001, 1001)
    kept = {path: os.stat(os.path.join(home, path)).st_ino
            for path in ("b\\big.tif", "docs/b_big.tif")}
    planted = {folder: (os.stat(folder).st_ino, sorted(os.listdir(folder)))
               for folder in (theirs, vault)}

    def located(inode):
        """Where the folder `inode` is now, in the shared folder or beside it."""
        for folder in (shared, attack):
            for name in os.listdir(folder):
                if os.lstat(os.path.join(folder, name)).st_ino == inode:
                    return os.path.join(folder, name)
        return None

    watcher = r"""
import ctypes, os, struct, sys, time
libc = ctypes.CDLL(None, use_errno=True)
shared, how, target, wait = sys.argv[1], sys.argv[2], sys.argv[3], float(sys.argv[4])
fd = libc.inotify_init()
libc.inotify_add_watch(fd, shared.encode(), 0x100)  # IN_CREATE
print("watching", flush=True)
while True:
    data = os.read(fd, 65536)
    while data:
        length = struct.unpack("iIII", data[:16])[3]
        name, data = data[16:16 + length].rstrip(b"\0").decode(), data[16 + length:]
        if not name.startswith("qvdump."):
            continue
        time.sleep(wait)
        try:
            os.rename(os.path.join(shared, name), os.path.join(shared, "moved-" + name))
            if how == "link":
                os.symlink(target, os.path.join(shared, name))
            else:
                os.rename(target, os.path.join(shared, name))
        except OSError:
            pass  # gone already, or the folder to put there is
"""
    as_attacker = lambda: (os.setgroups([]), os.setgid(1001), os.setuid(1001))
    held = ["strace", "-qq", "-o", "/dev/null", "-e", "trace=mkdir,mkdirat", "-e",
            "inject=mkdir,mkdirat:delay_exit=300000"] if shutil.which("strace") else None
    root_env = {"QUORIN_CONFIG_DIR": os.path.join(work, "config", "root")}
    # (what is put in the folder's place, the victim's folder's mode, the watcher's wait, held
    # by strace, as root)
    cases = (("link", theirs, 0, 0, False, False), ("link", f"{home}/docs", 0, 0, False, False),
             ("dir", mine, 0o700, 0.005, False, False), ("link", theirs, 0, 0, True, False),
             ("link", f"{home}/docs", 0, 0, True, False),
             ("dir", mine, 0o755, 0, True, False), ("dir", vault, 0, 0, True, True))
    problems = []
    try:
        for how, target, mode, wait, delayed, as_root in cases * 2:
            if delayed and not held:
                continue
            if target == mine and not os.path.exists(mine):  # the victim's own empty folder
                subprocess.run(["mkdir", "-m", oct(mode)[2:], mine], preexec_fn=as_user(),
                               check=True)
            inode = os.stat(mine).st_ino if target == mine else None
            spy = subprocess.Popen([sys.executable, "-c", watcher, shared, how, target,
                                    str(wait)], stdout=subprocess.PIPE, preexec_fn=as_attacker)
            assert spy.stdout.readline() == b"watching\n"
            run = subprocess.run(
                (held if delayed else []) + [qvdump, "b\\big.tif"], capture_output=True,
                cwd=home, preexec_fn=as_user(uid=0 if as_root else None),
                env=dict(env, TMPDIR=shared, **(root_env if as_root else {}),
                         **(TRACED_ENV if delayed else {})))
            time.sleep(0.05)
            spy.kill()
            spy.wait()
            out, err = run.stdout.decode(), run.stderr.decode()
            read_own = run.returncode == 0 and "size 4000 x 4000," in out and not delayed
            refused = run.returncode == 1 and "was replaced by another folder or a link" in err
            case = f"{how} {os.path.basename(target)}{' held' if delayed else ''}" + (
                " as root" if as_root else "")
            if not (read_own or refused) or "size 37 x 21" in out:
                problems.append(f"{case}: exit {run.returncode}, {out.count('size 37 x 21')} "
                                f"lines of the other user's file; {err.strip()}")
            for path, number in kept.items():
                if not os.path.exists(os.path.join(home, path)) or os.stat(
                        os.path.join(home, path)).st_ino != number:
                    problems.append(f"{case}: the victim's {path} removed")
            for folder, (number, names) in planted.items():
                now = located(number)
                if now is None or sorted(os.listdir(now)) != names:
                    problems.append(f"{case}: the other user's {os.path.basename(folder)} changed")
                elif now != folder:  # back where the next case takes it from
                    os.rename(now, folder)
            if inode is not None:
                now = located(inode)
                if now is None:
                    problems.append(f"{case}: the victim's folder put in its place removed")
                else:
                    shutil.rmtree(now)
    finally:
        shutil.rmtree(attack)
    return problems


def synced_saves(qvdump, env):
    """`qvdump --bmp` over a file through a new file beside it, then in place (inplace/ takes no
    new file), under strace: the problems seen. The new file is synced after its last write and
    before it takes the target's name, the folder after that; a file written in place is synced
    after its last write. (A write here is any change: bytes, length, mode, owner, attributes.)"""
    problems = []
    writes = ("write", "pwrite64", "writev", "pwritev", "pwritev2", "ftruncate", "fchmod",
              "fchown", "fsetxattr")
    trace = ["strace", "-f", "-qq", "-y", "-s", "0", "-e", "trace=" + ",".join(writes) +
             ",fsync,fdatasync,rename,renameat,renameat2,link,linkat"]
    for target in ("big/synced.bmp", "inplace/out.bmp"):
        with open(target, "wb") as f:
            f.write(b"old")
        if ORDINARY is not None:
            os.chown(target, ORDINARY.pw_uid, ORDINARY.pw_gid)
        folder, name = os.path.realpath(os.path.dirname(target)), os.path.basename(target)
        run = subprocess.run(trace + [qvdump, "--bmp", target, "R12.tif"], capture_output=True,
                             preexec_fn=as_user(), env=dict(env, **TRACED_ENV))
        # (call, the path of its first descriptor, the line)
        calls = [(m[1], m[2], m[0]) for m in re.finditer(
            r"^(?:\[pid +\d+\] +|\d+ +)?(\w+)\((?:[^<\n]*?<([^>\n]*)>)?.*$",
            run.stderr.decode("utf-8", "replace"), re.M)]
        synced = lambda path, among: any(
            call in ("fsync", "fdatasync") and fd == path for call, fd, _ in among)
        last_write = lambda path, upto: max(
            (i for i, (call, fd, _) in enumerate(calls[:upto]) if call in writes and fd == path),
            default=None)
        if run.returncode != 0:
            problems.append(f"{target}: exit {run.returncode}")
        elif target.startswith("big/"):
            renamed = [i for i, (call, _, line) in enumerate(calls) if call in (
                "rename", "renameat", "renameat2", "link", "linkat") and f'"{name}"' in line]
            temporary = {fd for call, fd, _ in calls if call in writes and fd and
                         os.path.dirname(fd) == folder and
                         os.path.basename(fd).startswith(f".{name}.")}
            if len(renamed) != 1 or len(temporary) != 1:
                problems.append(f"{target}: {len(renamed)} renames to it, written through "
                                f"{sorted(temporary)}")
            elif not synced(next(iter(temporary)),
                            calls[last_write(next(iter(temporary)), renamed[0]):renamed[0]]):
                problems.append(f"{target}: the new file not synced before it took the name")
            elif not synced(folder, calls[renamed[0]:]):
                problems.append(f"{target}: its folder not synced after the rename")
        else:
            written = last_write(os.path.join(folder, name), len(calls))
            if written is None or not synced(os.path.join(folder, name), calls[written:]):
                problems.append(f"{target}: " + ("no write in place" if written is None else
                                                 "not synced after its last write in place"))
        if problems:
            problems[-1] += "\n" + "\n".join(line for _, _, line in calls)[-3000:]
            break
    if os.path.exists("big/synced.bmp"):
        os.remove("big/synced.bmp")
    return problems


def sweep_inputs():
    """The files the memory sweep reads, in a folder of their own outside the work folder (whose
    files are read whole around each row), gone when the script ends: a series of 900 frames, a
    DICOM file of a 30 MB OB value and 2 MB of pixel data, one of 20,000 short elements, and the
    older file the repository holds."""
    import atexit
    folder = tempfile.mkdtemp(prefix="qvdump-sweep-")
    atexit.register(shutil.rmtree, folder, True)
    os.chmod(folder, 0o755)
    fixture("group_files.py", "write", "fms-many", os.path.join(folder, "many.fms"))
    shutil.copy(os.path.join(ROOT, "tests", "data", "older", "T0001.tif"), folder)
    subprocess.run([sys.executable, "-c", """if True:
        import sys, pydicom
        from pydicom.dataset import Dataset, FileMetaDataset
        def new():
            d = Dataset()
            d.file_meta = FileMetaDataset()
            d.file_meta.MediaStorageSOPClassUID = d.SOPClassUID = "1.2.840.10008.5.1.4.1.1.104.1"
            d.file_meta.MediaStorageSOPInstanceUID = d.SOPInstanceUID = "1.2.3.4.5"
            d.file_meta.TransferSyntaxUID = pydicom.uid.ExplicitVRLittleEndian
            d.is_little_endian, d.is_implicit_VR = True, False
            return d
        d = new()
        d.EncapsulatedDocument = bytes(range(256)) * 122880
        d.Rows = d.Columns = 1024
        d.BitsAllocated, d.BitsStored, d.HighBit, d.PixelRepresentation = 16, 12, 11, 0
        d.SamplesPerPixel, d.PhotometricInterpretation = 1, "MONOCHROME2"
        d.PixelData = bytes(range(256)) * 8192
        save = lambda d, path: d.save_as(path, **(
            {"enforce_file_format": True} if int(pydicom.__version__.split(".")[0]) >= 3
            else {"write_like_original": False}))
        save(d, sys.argv[1])
        d = new()
        for g in range(0x0009, 0x0009 + 160, 2):
            d.add_new((g, 0x0010), "LO", "QUORIN SWEEP")
            for e in range(250):
                d.add_new((g, 0x1000 + e), "SH", "v%d" % e)
        save(d, sys.argv[2])
        """, os.path.join(folder, "bigob.dcm"), os.path.join(folder, "many.dcm")], check=True)
    return folder


def memory_sweep(qvdump, env):
    """Each file read under ulimit -v from the lowest limit at which qvdump starts to where it
    reads the file whole: every run gives the unlimited run's output and exit 0, or one line
    saying the memory ran out and exit 1 (never a verdict on the file, a part of it, or an
    abort). The problems seen."""
    folder = sweep_inputs()
    run = lambda args, kb=None: subprocess.run(
        [qvdump, *args], capture_output=True, env=env,
        preexec_fn=as_user(kb and limit(resource.RLIMIT_AS, kb * 1024)))
    # The loader's own refusals: too little for the program to start at all.
    unstarted = lambda r: r.returncode == 127 and not r.stdout and re.search(
        rb"error while loading shared libraries|cannot allocate TLS", r.stderr)
    low, high = 8000, 400000  # the lowest limit --version runs under, to 1,000 KB
    while high - low > 1000:
        middle = (low + high) // 2
        low, high = (low, middle) if run(["--version"], middle).returncode == 0 else (middle, high)
    # (arguments, KB above the start where it reads whole, limits tried)
    inputs = ((["--group", os.path.join(folder, "many.fms")], 30000, 40),
              ([os.path.join(folder, "bigob.dcm")], 135000, 30),
              (["--canonical", os.path.join(folder, "bigob.dcm")], 135000, 16),
              ([os.path.join(folder, "many.dcm")], 20000, 30),
              ([os.path.join(folder, "T0001.tif")], 4000, 16),
              (["big/R40.tif"], 40000, 20))
    problems = []
    for args, span, count in inputs:
        whole = run(args)
        if whole.returncode != 0 or whole.stderr:
            problems.append(f"{args[-1]} unlimited: exit {whole.returncode}: {whole.stderr!r}")
            continue
        short = read_whole = 0
        for i in range(count):
            kb = high - 500 + span * i // (count - 1) + 73 * i  # a little off any round number
            limited = run(args, kb)
            err = limited.stderr.decode("utf-8", "replace")
            if unstarted(limited):
                continue
            if limited.returncode == 0 and limited.stdout == whole.stdout and not err:
                read_whole += 1
            elif (limited.returncode == 1 and err.startswith("qvdump: ") and err.count("\n") == 1
                  and err.endswith(f": {os.strerror(errno.ENOMEM)}\n")):
                short += 1
            else:
                problems.append(f"{' '.join(args)[-60:]} under {kb} KB: exit "
                                f"{limited.returncode}, {len(limited.stdout)} of "
                                f"{len(whole.stdout)} bytes out: {err.strip()[-300:]}")
        if not short or not read_whole:
            problems.append(f"{args[-1]}: {short} runs short of memory, {read_whole} read whole "
                            f"from {high - 500} KB: the sweep misses the shortage or the end")
    return problems


def run_table(qvdump, env, work, full, read_only):
    E = os.strerror
    skipped = []
    long_name = "n" * 300 + ".bmp"
    dumped = lambda name: lambda out, err: out.count(f"== {name}\n")

    # (arguments, exit status, stream, text or texts[, options]); options: "made" the names the
    # run makes or changes, "check" (what to check, expected value), "setup" run in the child
    # before qvdump, "stdout" where standard output goes instead of a pipe ("full" /dev/full,
    # "log" appended to the file log, "broken" a pipe nobody reads).
    rows = [
        (["--help"], 0, "out", ("Usage: qvdump [OPTIONS] [--] FILE...\n", "--group FILE  ",
                                "pages count from 0")),
        (["-h"], 0, "out", "--bmp OUT.bmp"),
        (["--version"], 0, "out", "qvdump " + project_version()),
        ([], 2, "err", "no file given"),
        (["--bogus", "sample.dcm"], 2, "err", "--bogus"),
        (["-x"], 2, "err", "-x"),
        (["sample.dcm", "--page"], 2, "err", "--page"),
        (["--page", "abc", "R12.tif"], 2, "err", "'abc'"),
        (["--page", "-1", "R12.tif"], 2, "err", "'-1'"),
        (["--page", "0x1", "R12.tif"], 2, "err", "'0x1'"),
        (["--page", "99999999999", "R12.tif"], 2, "err", "qvdump: --page: must be a whole number "
         "from 0 to 2147483647, not '99999999999'\n"),
        (["--page", "2147483648", "R12.tif"], 2, "err", "'2147483648'"),
        (["--page", "2147483647", "R12.tif"], 1, "err", "qvdump: R12.tif: information: no page "
         "2147483647: the file holds one image, page 0\n"),
        (["--page", "", "R12.tif"], 2, "err", "qvdump: --page: the value is empty\n"),
        # A page or reduced image the file does not have is refused, nothing written.
        (["--page", "5", "--bmp", "p.bmp", "R12.tif"], 1, "err",
         "qvdump: R12.tif: information: no page 5: the file holds one image, page 0\n"),
        (["--reduced", "--bmp", "p.bmp", "R12.tif"], 1, "err", "qvdump: R12.tif: information: "
         "no reduced image: the file holds its main image only\n"),
        (["--reduced", "--page", "1", "B1.tif"], 1, "err",
         "qvdump: B1.tif: information: no page 1: the reduced image is one image, page 0\n"),
        (["--page", "2", "B1.tif"], 1, "err",
         "qvdump: B1.tif: information: result 5 (no image of the wanted kind)\n"),
        (["--page", "00000000001", "--bmp", "s1.bmp", "B1.tif"], 0, "out", "bmp: s1.bmp\n",
         {"made": {"s1.bmp"}, "check": (bmp_of_raw("s1.bmp", "B1.tif.page1.raw"), True)}),
        (["--reduced", "--bmp", "r.bmp", "R16.tif"], 0, "out", ("sub-type 2\n", "bmp: r.bmp\n"),
         {"made": {"r.bmp"}}),
        (["R12.tif", "--bmp"], 2, "err", "--bmp"),
        (["--bmp", "a.bmp", "--bmp", "b.bmp", "R12.tif"], 2, "err", "--bmp"),
        (["--bmp", "two.bmp", "R12.tif", "R13.tif"], 2, "err", "exactly one older"),
        (["--bmp", "none.bmp", "sample.dcm"], 2, "err", "exactly one older"),
        # An empty value is no value: the next argument never stands in for it.
        (["--bmp=", "R12.tif", "R13.tif"], 2, "err", "qvdump: --bmp: the value is empty\n"),
        (["--bmp", "", "R12.tif"], 2, "err", "qvdump: --bmp: the value is empty\n"),
        (["--page=", "R12.tif"], 2, "err", "qvdump: --page: the value is empty\n"),
        (["--group=", "series.xml"], 2, "err", "qvdump: --group: the value is empty\n"),
        (["--group", "", "sample.dcm"], 2, "err", "qvdump: --group: the value is empty\n"),
        # An output that is an input, or the file standard output appends to, is never written.
        (["--bmp", "R12.tif", "R12.tif"], 2, "err", "would replace the input file R12.tif\n"),
        (["--bmp", "alias.bmp", "R12.tif"], 2, "err", "would replace the input file R12.tif\n"),
        (["--bmp", "/dev/stdout", "R12.tif"], 2, "err", "would replace the file of standard "
         "output\n", {"stdout": "log"}),
        (["--bmp", "/dev/stderr", "R12.tif"], 2, "err", (),
         {"setup": stderr_to_errlog, "made": {"errlog"}, "check": (lambda out, err: read(
             "errlog").startswith(b"qvdump: --bmp /dev/stderr would replace the file of standard "
                                  b"error\n"), True)}),
        (["--bmp", "/dev/stdout", "R12.tif"], 1, "err", "qvdump: /dev/stdout: cannot write the "
         "BMP: not a regular file\n"),
        # A dump that cannot be written is a failure.
        (["sample.dcm"], 1, "err", f"qvdump: write error: {E(errno.ENOSPC)}\n",
         {"stdout": "full"}),
        (["--help"], 1, "err", f"qvdump: write error: {E(errno.ENOSPC)}\n", {"stdout": "full"}),
        (["--version"], 1, "err", f"qvdump: write error: {E(errno.ENOSPC)}\n",
         {"stdout": "full"}),
        # The reason is the first failed write's, whatever is written or refused after it.
        *((names, 1, "err", (f"qvdump: missing.dcm: {E(errno.ENOENT)}\n",
                             f"qvdump: write error: {E(errno.ENOSPC)}\n"), {"stdout": "full"})
          for names in (["sample.dcm", "missing.dcm"], ["missing.dcm", "sample.dcm"])),
        # Closed, standard output takes no file of the library's (the UID stamp a BMP makes).
        (["--bmp", "closed.bmp", "R12.tif"], 1, "err", f"qvdump: write error: {E(errno.EBADF)}\n",
         {"setup": close_stdout, "stdout": "none", "made": {"closed.bmp"},
          "check": (lambda out, err: b"R12.tif" in read("config/uid-stamp"), False)}),
        (["R12.tif"], 1, "err", f"qvdump: write error: {E(errno.EPIPE)}\n",
         {"setup": ignore_sigpipe, "stdout": "broken"}),
        # A file that cannot be opened is refused with its reason, whatever --bmp asks.
        (["--bmp", "out.bmp", "R12.tf"], 1, "err", f"qvdump: R12.tf: {E(errno.ENOENT)}\n"),
        # --bmp counts the older files that open.
        (["--bmp", "one.bmp", "R12.tif", "R99.tif"], 1, "err",
         f"qvdump: R99.tif: {E(errno.ENOENT)}\n", {"made": {"one.bmp"}}),
        # Options after the file they concern.
        (["R12.tif", "--bmp", "out.bmp"], 0, "out", "bmp: out.bmp",
         {"made": {"out.bmp"}, "check": (lambda out, err: os.path.getsize("out.bmp"),
                                        bmp_size(37, 21))}),
        (["sample.dcm", "--header"], 0, "out", "pixel data, measured, not loaded"),
        (["--", "-x"], 0, "out", "== -x"),
        (["--", "--bmp="], 1, "err", f"qvdump: --bmp=: {E(errno.ENOENT)}\n"),
        (["--group", "series.xml", "sample.dcm", "--group", "series.xml"], 0, "out",
         "# series.xml\n", {"check": (lambda out, err: re.findall(r"^(?:# |== )\S+", out, re.M),
                                      ["# series.xml", "== sample.dcm", "# series.xml"])}),
        (["folder"], 1, "err", f"qvdump: folder: {E(errno.EISDIR)}\n"),
        (["missing.dcm"], 1, "err", f"qvdump: missing.dcm: {E(errno.ENOENT)}\n"),
        ([""], 1, "err", f"qvdump: '': {E(errno.ENOENT)}\n"),
        # Names as the system reads them, in and out: nothing under the drive's folder, nothing
        # in a folder the name would have had in Windows; a kind from the name's last component.
        (["--bmp", "keep\\me.bmp", "R12.tif"], 0, "out", "bmp: keep\\me.bmp\n",
         {"made": {"keep\\me.bmp"}}),
        (["--bmp", "c:out.bmp", "R12.tif"], 0, "out", "bmp: c:out.bmp\n", {"made": {"c:out.bmp"}}),
        (["x\\R12.tif", "c:R12.tif", "k\\d/R12.tif", "d\\x.dcm", "--group", "g\\s.xml"], 0,
         "out", ("== x\\R12.tif (older file)\n", 'path "x\\R12.tif", patient folder ""\n',
                 "== c:R12.tif (older file)\n", 'path "k\\d/R12.tif", patient folder "k\\d"\n',
                 "== d\\x.dcm\n", "# g\\s.xml\n"),
         {"check": (lambda out, err: re.findall(r", type (\d+), sub-type", out), ["4", "4", "1"])}),
        (["C:R12.tif"], 0, "out", ("== C:R12.tif (older file)\n", "size 37 x 21,")),
        (["x\\R13.tif"], 1, "err", f"qvdump: x\\R13.tif: {E(errno.ENOENT)}\n"),
        # The link's folder as mkdtemp makes it under any umask and in a set-group-ID $TMPDIR:
        # the name read, nothing left.
        *[(["x\\R12.tif"], 0, "out", "== x\\R12.tif (older file)\n",
           {"env": {"TMPDIR": os.path.join(work, tmp)}, "setup": lambda mask=mask: os.umask(mask)})
          for tmp, mask in (("gtmp", 0o022), ("tmp", 0o177), ("gtmp", 0o777))],
        # A link that cannot be made is refused with its reason, $TMPDIR named where it is the
        # cause, before --bmp counts the older files.
        *[(args, 1, "err", f"qvdump: x\\R12.tif: cannot be reached under its name: {reason}\n",
           {"env": {"TMPDIR": tmp}}) for args in (["x\\R12.tif"], ["--bmp", "o.bmp", "x\\R12.tif"])
          for tmp, reason in (("/nonexistent", f"$TMPDIR (/nonexistent): {E(errno.ENOENT)}"),
                              ("/etc/passwd", f"$TMPDIR (/etc/passwd): {E(errno.ENOTDIR)}"),
                              (f"{work}/rotmp", f"$TMPDIR ({work}/rotmp): {E(errno.EACCES)}"))],
        # Names the group readers would trim are read as they stand.
        (["--group", "\fs.fms", "--group", "s.fms\v", "--group", "sub/x.fms\f"], 0, "out",
         ("# .s.fms\n", "# s.fms.\n", "# sub/x.fms.\n")),
        (["pipe"], 1, "err", "qvdump: pipe: not a regular file\n"),
        (["R14.tif", "d.fms", "R15.tif", "p.cqv"], 1, "err",
         (f"qvdump: R14.tif: {E(errno.EISDIR)}\n", f"qvdump: d.fms: {E(errno.EISDIR)}\n",
          "qvdump: R15.tif: not a regular file\n", "qvdump: p.cqv: not a regular file\n")),
        (["junk.dcm", "sample.dcm"], 1, "err", "qvdump: junk.dcm: status "),
        (["--canonical", "junk.dcm"], 1, "err", "qvdump: junk.dcm: status "),
        (["rle.dcm"], 1, "err", "(1.2.840.10008.1.2.5)\n"),
        (["sample.dcm", "missing.dcm"], 1, "out", "== sample.dcm"),
        (["locked.dcm"], 1, "err", f"qvdump: locked.dcm: {E(errno.EACCES)}\n"),
        (["empty.fms", "other.fms"], 1, "err", ("qvdump: empty.fms: not a group data file",
                                                "qvdump: other.fms: not a group data file")),
        # Many files under a low limit of open files: each is closed once read.
        (["sample.dcm"] * 300, 0, "out", "== sample.dcm",
         {"setup": limit(resource.RLIMIT_NOFILE, 64), "check": (dumped("sample.dcm"), 300)}),
        # Control characters of values and names are shown as dots.
        (["ctl\x1b[2J.dcm", "--bmp", "R\x1b.bmp", "R\x1b[2J.tif", "c\x9b.dcm", "\u00e9.dcm",
          os.fsdecode(b"o\xe0\x83\xa9.dcm"), "no\x07\x7f.dcm"], 1, "out",
         ("== ctl.[2J.dcm\n", 'model name: "Z.]0;x." (result 0)', 'patient: "Doe.[2J^Jo.^^^"',
          "== R.[2J.tif (older file)\n", 'comments "Caries.distal 36', "bmp: R..bmp\n",
          "== c...dcm\n", "== \u00e9.dcm\n", "== o....dcm\n"), {"made": {"R\x1b.bmp"}, "check": (
              lambda out, err: err, f"qvdump: no...dcm: {E(errno.ENOENT)}\n")}),
        # The library's notices are qvdump's lines.
        (["--bmp", "n.bmp", "R12.tif"], 0, "err",
         f"qvdump: Registry: {work}/cfg./user.reg: could not be read (",
         {"env": {"QUORIN_CONFIG_DIR": os.path.join(work, "cfg\x1b")}, "made": {"n.bmp"}}),
        # The output side gives the system's reasons.
        (["--bmp", "folder", "R12.tif"], 1, "err",
         f"qvdump: folder: cannot write the BMP: {E(errno.EISDIR)}\n"),
        # A folder the user may not write is still a folder.
        (["--bmp", "/", "R12.tif"], 1, "err",
         f"qvdump: /: cannot write the BMP: {E(errno.EISDIR)}\n"),
        (["--bmp", "pipe", "R12.tif"], 1, "err",
         "qvdump: pipe: cannot write the BMP: not a regular file\n"),
        (["--bmp", "loop.bmp", "R12.tif"], 1, "err",
         f"qvdump: loop.bmp: cannot write the BMP: {E(errno.ELOOP)}\n"),
        (["--bmp", "R13.tif/out.bmp", "R12.tif"], 1, "err",
         f"qvdump: R13.tif/out.bmp: cannot write the BMP: {E(errno.ENOTDIR)}\n"),
        (["--bmp", long_name, "R12.tif"], 1, "err",
         f"qvdump: {long_name}: cannot write the BMP: {E(errno.ENAMETOOLONG)}\n"),
        (["--bmp", "/new.bmp", "R12.tif"], 1, "err",
         f"qvdump: /new.bmp: cannot write the BMP: {E(errno.EACCES)}\n"),
        (["--bmp", "nofolder/out.bmp", "R12.tif"], 1, "err",
         f"qvdump: nofolder/out.bmp: cannot write the BMP: {E(errno.ENOENT)}\n"),
        # A link to a deleted file is no name: nothing is made from its text.
        (["--bmp", "/dev/fd/3", "R12.tif"], 1, "err",
         f"qvdump: /dev/fd/3: cannot write the BMP: {E(errno.ENOENT)}",
         {"setup": deleted_on_fd3, "pass_fds": (3,)}),
        # A folder the user may write but not list takes the BMP.
        (["--bmp", "wx/out.bmp", "R12.tif"], 0, "out", "bmp: wx/out.bmp\n",
         {"setup": lambda: os.chmod("wx", 0o300), "made": {"wx/out.bmp"},
          "check": (size_in_unlistable("wx", "out.bmp"), bmp_size(37, 21))}),
        # A BMP past the file-size limit is refused whole: the old one stays, nothing beside it.
        (["--bmp", "kept/R.bmp", "R12.tif"], 1, "err",
         f"cannot write the BMP: {E(errno.EFBIG)}\n",
         {"setup": limit(resource.RLIMIT_FSIZE, 1024)}),
    ]
    if full:
        rows.append((["--bmp", "full/out.bmp", "big/R40.tif"], 1, "err",
                     f"qvdump: full/out.bmp: cannot write the BMP: {E(errno.ENOSPC)}\n"))
    if read_only:
        rows += [(["--bmp", f"ro/{name}", "R12.tif"], 1, "err",
                  f"qvdump: ro/{name}: cannot write the BMP: {E(errno.EROFS)}\n")
                 for name in ("old.bmp", "new.bmp")]
    # A sound file whose pixel data the memory left cannot hold is refused as such, not as damaged.
    memory = memory_rows(qvdump)
    rows += memory
    if not memory:
        skipped.append("built with the address sanitizer: the file refused for want of memory "
                       "and the sweep of memory limits")
    # Descriptors for the file, $TMPDIR, the link's folder and the library's open: short of any,
    # nothing is left behind. (The sanitizers' runtime needs descriptors of its own.)
    if memory:
        rows += [(["x\\R12.tif"], 1, "err",
                  f"qvdump: x\\R12.tif: cannot be reached under its name: {E(errno.EMFILE)}\n",
                  {"setup": limit(resource.RLIMIT_NOFILE, files)}) for files in (4, 5, 6)]
    else:
        skipped.append("built with the address sanitizer: a link short of descriptors")
    if not (full and read_only):
        skipped.append("no file system could be mounted: the full disk and the read-only folder")
    if ORDINARY is not None:
        # Files planted in a shared folder are never written by another user's save, root's
        # included: they stay as they were, and their owner's.
        rows += [
            (["--bmp", "sticky/xray.bmp", "R12.tif"], 1, "err",
             f"qvdump: sticky/xray.bmp: cannot write the BMP: {E(errno.EACCES)}\n",
             {"uid": 0, "env": {"QUORIN_CONFIG_DIR": os.path.join(work, "config", "root")},
              "check": (owner("sticky/xray.bmp"), ORDINARY.pw_uid)}),
            (["--bmp", "sticky/theirs.bmp", "R12.tif"], 1, "err",
             f"qvdump: sticky/theirs.bmp: cannot write the BMP: {E(errno.EACCES)}\n",
             {"check": (owner("sticky/theirs.bmp"), 1001)}),
        ]
    else:
        skipped.append("not root: the files other users planted in a shared folder")

    faults = []
    for args, status, stream, texts, *more in rows:
        texts = (texts,) if isinstance(texts, str) else texts
        options = more[0] if more else {}
        where = options.get("stdout")
        before = snapshot(work)
        with open("/dev/full" if where == "full" else "log", "ab") as sink:
            out_fd = sink.fileno() if where in ("full", "log") else subprocess.PIPE
            if where == "broken":
                read_end, out_fd = os.pipe()
                os.close(read_end)
            run = subprocess.run([qvdump, *args], stdout=out_fd, stderr=subprocess.PIPE,
                                 preexec_fn=as_user(options.get("setup"), options.get("uid")),
                                 env=dict(env, **options.get("env", {})),
                                 pass_fds=options.get("pass_fds", ()))
            if where == "broken":
                os.close(out_fd)
        out = (run.stdout or b"").decode("utf-8", "replace")
        err = run.stderr.decode("utf-8", "replace")
        said, other = (out, err) if stream == "out" else (err, out)
        problems = []
        if run.returncode != status:
            problems.append(f"exit {run.returncode}, not {status}")
        for text in texts:
            if text not in said:
                problems.append(f"no {text!r} on std{stream}")
            if stream == "err" and text in other:
                problems.append(f"{text!r} on standard output too")
        if status == 0 and err and stream != "err":
            problems.append("standard error not empty")
        if status == 2 and out:
            problems.append("standard output not empty")
        if re.search(r"[\x00-\x09\x0b-\x1f\x7f-\x9f]", out + err):
            problems.append("a control character printed")
        check = options.get("check")
        if check is not None and check[0](out, err) != check[1]:
            problems.append(f"{check[0](out, err)!r}, not {check[1]!r}")
        made = changed(before, snapshot(work))
        if made != options.get("made", set()):
            problems.append(f"files changed: {sorted(made)}")
        if problems:
            faults.append(f"qvdump {' '.join(args)[:200]!r}: {'; '.join(problems)}\n"
                          f"--- stdout:\n{out[-2000:]}--- stderr:\n{err[-2000:]}")
    # Both streams into one pipe: a refusal stands after what was dumped before it.
    merged = subprocess.run([qvdump, "sample.dcm", "missing.dcm", "R12.tif"],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            preexec_fn=as_user(), env=env).stdout.decode()
    order = re.findall(r"^(?:== |qvdump: )\S+", merged, re.M)
    if order != ["== sample.dcm", "qvdump: missing.dcm:", "== R12.tif"]:
        faults.append(f"merged streams in the order {order}")
    # Ended by any signal whose default ends it while the BMP is written: the temporary file
    # goes, the target stays; in place, the write once begun ends whole.
    ending = ending_signals()
    subprocess.run([qvdump, "--bmp", "big/whole.bmp", "big/R40.tif"], stdout=subprocess.DEVNULL,
                   preexec_fn=as_user(), env=env, check=True)
    for signum in ending:
        for problem in interrupted_bmp(qvdump, env, work, signum):
            faults.append(f"qvdump --bmp ended by signal {signum}: {problem}")
    for problem in interrupted_bmp(qvdump, env, work, signal.SIGINT, folder=".", name="bare.bmp"):
        faults.append(f"qvdump --bmp of a bare name, interrupted: {problem}")
    for problem in interrupted_bmp(qvdump, env, work, signal.SIGINT, folder="l" * 200):
        faults.append(f"qvdump --bmp into a folder of 200 characters, interrupted: {problem}")
    for problem in interrupted_bmp(qvdump, env, work, signal.SIGHUP, ignored=True):
        faults.append(f"qvdump --bmp under nohup: {problem}")
    for signum in (signal.SIGCHLD, signal.SIGURG, signal.SIGWINCH):
        for problem in interrupted_bmp(qvdump, env, work, signum, goes_on=True):
            faults.append(f"qvdump --bmp, signal {signum} at its default: {problem}")
    # A temporary file whose whole path is 4,096 bytes or more (its folder's 3,890).
    deep = tempfile.mkdtemp(prefix="qvdump-deep-")
    try:
        folder = deep
        while len(folder) < 3890:
            folder += "/" + "d" * min(200, 3890 - len(folder) - 1)
            os.mkdir(folder)
        name = "o" * 196 + ".bmp"
        with open(os.path.join(folder, name), "wb") as f:
            f.write(b"old")
        if ORDINARY is not None:
            for place, _, files in os.walk(deep):
                for path in [place] + [os.path.join(place, file) for file in files]:
                    os.chown(path, ORDINARY.pw_uid, ORDINARY.pw_gid)
        for problem in interrupted_bmp(qvdump, env, work, signal.SIGTERM, folder=folder,
                                       name=name):
            faults.append(f"qvdump --bmp, a temporary path of 4,096 bytes, ended: {problem}")
    finally:
        shutil.rmtree(deep)
    for signum in ending:
        for problem in interrupted_link(qvdump, env, signum):
            faults.append(f"qvdump over a name read through a link, signal {signum}: {problem}")
    for problem in signalled_over_names(qvdump, env):
        faults.append(f"qvdump over names with a backslash, interrupted: {problem}")
    if ORDINARY is not None:
        for problem in steered_tmpdir(qvdump, env, work):
            faults.append(f"qvdump with another user's $TMPDIR: {problem}")
        if not shutil.which("strace"):
            skipped.append("no strace: another user's $TMPDIR swapped while qvdump is held "
                           "after its mkdir")
    else:
        skipped.append("not root: $TMPDIR a shared folder of another user")
    if memory:
        for problem in memory_sweep(qvdump, env):
            faults.append(f"qvdump under a memory limit: {problem}")
    os.chmod("inplace", 0o555)
    try:
        for signum in ending:
            for problem in interrupted_in_place(qvdump, env, signum, sanitized=not memory):
                faults.append(f"qvdump --bmp in place ended by signal {signum}: {problem}")
        for problem in terminated_in_lock_wait(qvdump, env):
            faults.append(f"qvdump --bmp in place, SIGTERM in the wait for the lock: {problem}")
        if shutil.which("strace"):
            for problem in synced_saves(qvdump, env):
                faults.append(f"qvdump --bmp, the save's syncs: {problem}")
        else:
            skipped.append("no strace: the syncs of a save")
    finally:
        os.chmod("inplace", 0o755)
    checks = 10 + (ORDINARY is not None) + bool(memory) + bool(shutil.which("strace"))
    total = len(rows) + checks + 3 * len(ending)
    print(f"{total - len(faults)} of {total} command lines as expected")
    return faults, skipped


def memory_rows(qvdump):
    """The row of a sound DICOM file with 1.5 GB of pixel data (sparse) read under ulimit -v
    600000; none where qvdump is built with the address sanitizer, whose shadow memory no such
    limit leaves room for. The file stands outside the work folder, whose files are read whole
    around each row, and goes when the script ends."""
    import atexit
    import struct
    with open(qvdump, "rb") as f:
        if b"AddressSanitizer" in f.read():
            return []
    folder = tempfile.mkdtemp(prefix="qvdump-memory-")
    atexit.register(shutil.rmtree, folder, True)
    os.chmod(folder, 0o755)

    def element(group, number, vr, value):
        size = struct.pack("<HI", 0, len(value)) if vr in (b"OB", b"OW") else struct.pack(
            "<H", len(value))
        return struct.pack("<HH", group, number) + vr + size + value

    uid = lambda text: text.encode() + b"\0" * (len(text) % 2)
    us = lambda value: struct.pack("<H", value)
    sop = "1.2.840.10008.5.1.4.1.1.1.3"  # digital intra-oral X-ray image for presentation
    meta = (element(2, 1, b"OB", b"\0\1") + element(2, 2, b"UI", uid(sop)) +
            element(2, 3, b"UI", uid("1.2.3.4")) +
            element(2, 0x10, b"UI", uid("1.2.840.10008.1.2.1")))
    rows, columns = 25000, 30000
    head = (b"\0" * 128 + b"DICM" + element(2, 0, b"UL", struct.pack("<I", len(meta))) + meta +
            element(8, 0x16, b"UI", uid(sop)) + element(8, 0x18, b"UI", uid("1.2.3.4")) +
            element(0x28, 2, b"US", us(1)) + element(0x28, 4, b"CS", b"MONOCHROME2 ") +
            element(0x28, 0x10, b"US", us(rows)) + element(0x28, 0x11, b"US", us(columns)) +
            element(0x28, 0x100, b"US", us(16)) + element(0x28, 0x101, b"US", us(16)) +
            element(0x28, 0x102, b"US", us(15)) + element(0x28, 0x103, b"US", us(0)) +
            element(0x7FE0, 0x10, b"OW", b""))
    path = os.path.join(folder, "big.dcm")
    with open(path, "wb") as f:
        f.write(head[:-4] + struct.pack("<I", rows * columns * 2))
        f.truncate(len(head) + rows * columns * 2)
    return [([path], 1, "err", f"qvdump: {path}: status 13: {os.strerror(errno.ENOMEM)}\n",
             {"setup": limit(resource.RLIMIT_AS, 600000 * 1024),
              "check": (lambda out, err: "malformed" in out + err, False)})]


if __name__ == "__main__":
    main()
