#!/usr/bin/python3
"""qvdump --bmp onto a file whose lock a peer holds for good (a process that may merely read
the file, as `flock -x out.bmp sleep 600` is): the save waits for it a bounded time, then is
refused, the file byte-exact and nothing left beside it. Started as root, two saves run at
once: root's, through a new file, and the user nobody's, in place (nobody may write the file
but not its folder); otherwise one save as the user running it.

Usage: qvdump_locked_target.py QVDUMP
"""
import fcntl
import os
import pwd
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BOUND = 30  # seconds: the documented longest wait of a save for the lock of its file
NOBODY = pwd.getpwnam("nobody") if os.geteuid() == 0 else None


def become_nobody():
    os.setgroups([])
    os.setgid(NOBODY.pw_gid)
    os.setuid(NOBODY.pw_uid)


def runnable(qvdump, folder):
    """qvdump, or a copy in `folder` where nobody may not run it where it is (a checkout under
    /root)."""
    try:
        if NOBODY is None or subprocess.run([qvdump, "--version"], preexec_fn=become_nobody,
                                            capture_output=True).returncode == 0:
            return qvdump
    except OSError:
        pass
    return shutil.copy(qvdump, os.path.join(folder, "qvdump"))


def main():
    work = tempfile.mkdtemp(prefix="qvdump-lock-")
    settings = tempfile.mkdtemp(prefix="qvdump-lock-settings-")  # no user's settings, no notice
    os.chmod(settings, 0o777)
    env = dict(os.environ, QUORIN_CONFIG_DIR=settings)
    peer = None
    try:
        qvdump = runnable(os.path.abspath(sys.argv[1]), settings)
        os.chmod(work, 0o755)
        shutil.copy(os.path.join(ROOT, "tests", "data", "older", "T0001.tif"), work)
        target = os.path.join(work, "out.bmp")
        with open(target, "wb") as out:
            out.write(b"the old content\n")
        os.chmod(target, 0o666)
        # The peer only reads the file: any user who may open it may hold its lock.
        peer = subprocess.Popen(
            [sys.executable, "-c",
             "import fcntl,sys,time\nf=open(sys.argv[1],'rb')\nfcntl.flock(f,fcntl.LOCK_EX)\n"
             "print('held',flush=True)\ntime.sleep(3600)", target],
            stdout=subprocess.PIPE, preexec_fn=become_nobody if NOBODY else None)
        assert peer.stdout.readline() == b"held\n"
        savers = [None] + ([become_nobody] if NOBODY else [])
        start = time.monotonic()
        runs = [subprocess.Popen([qvdump, "--bmp", "out.bmp", "T0001.tif"], cwd=work,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                 env=env, preexec_fn=who) for who in savers]
        results = [(run.wait(timeout=BOUND + 60), run.stderr.read().decode()) for run in runs]
        waited = time.monotonic() - start
        peer.kill()
        peer.wait()
        failures = []
        expected = ("qvdump: out.bmp: cannot write the BMP: locked by another process "
                    f"(waited {BOUND} s)\n")
        for who, (status, err) in zip(["root" if NOBODY else "the user", "nobody"], results):
            if (status, err) != (1, expected):
                failures.append(f"{who}: exit {status}, stderr {err!r}, not 1, {expected!r}")
        if not BOUND <= waited < BOUND + 15:
            failures.append(f"refused after {waited:.1f} s, not within {BOUND} s and a little")
        with open(target, "rb") as out:
            if out.read() != b"the old content\n":
                failures.append("out.bmp changed")
        if sorted(os.listdir(work)) != ["T0001.tif", "out.bmp"]:
            failures.append(f"left beside it: {sorted(os.listdir(work))}")
        for failure in failures:
            print(failure)
        print(f"{len(runs)} save(s) refused after {waited:.1f} s" if not failures else "FAILED")
        return 1 if failures else 0
    finally:
        if peer is not None and peer.poll() is None:  # a failure on the way leaves no holder
            peer.kill()
            peer.wait()
        shutil.rmtree(work, ignore_errors=True)
        shutil.rmtree(settings, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
