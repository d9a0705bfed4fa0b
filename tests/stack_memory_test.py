"""StackCollapse and the Python module's median_file on deep stacks: the peak
resident set size (ru_maxrss, what /usr/bin/time and a batch system's
accounting read) stays under 256 MiB whatever the stack's size, and on a
terminal a progress line appears and is cleared, while nothing at all is
written to standard error that is a file or a pipe.

The stacks are sparse files of zeros (no disk taken): a mapping of such a
file would count every page read in the resident set as a real stack's
would.

    /usr/bin/python3 tests/stack_memory_test.py <build-dir>
"""
import os
import pty
import subprocess
import sys
import tempfile
import time

build = os.path.abspath(sys.argv[1])
FRAME = 2048 * 2048 * 2
LIMIT_KIB = 256 * 1024
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)


def sparse_stack(path, frames):
    with open(path, "wb") as f:
        f.truncate(8192 + frames * FRAME)


def evict(path):
    """The file's pages out of the page cache, so that its next run reads it afresh."""
    fd = os.open(path, os.O_RDONLY)
    os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
    os.close(fd)


def max_rss_kib(argv, **kw):
    p = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, **kw)
    err = p.stderr.read()
    _, status, usage = os.wait4(p.pid, 0)
    return os.waitstatus_to_exitcode(status), usage.ru_maxrss, err


def on_terminal(argv):
    """argv run with its standard error (and output) on a pseudo-terminal:
    its status, what the terminal received, and the seconds it took."""
    start = time.monotonic()
    pid, fd = pty.fork()
    if pid == 0:
        os.execv(argv[0], argv)
    seen = b""
    while True:
        try:
            chunk = os.read(fd, 65536)
        except OSError:
            break
        if not chunk:
            break
        seen += chunk
    _, status = os.waitpid(pid, 0)
    return os.waitstatus_to_exitcode(status), seen, time.monotonic() - start


with tempfile.TemporaryDirectory() as tmp:
    stack, out = os.path.join(tmp, "deep.ge3"), os.path.join(tmp, "median.ge3")
    collapse = [os.path.join(build, "StackCollapse"), stack, out]

    # Peak resident memory, for 100 frames (0.8 GB, selected a band at a time)
    # and 400 (3.4 GB, coded).
    for frames in (100, 400):
        sparse_stack(stack, frames)
        status, rss, err = max_rss_kib(collapse)
        check(status == 0, f"{frames} frames: status {status}")
        check(rss < LIMIT_KIB, f"{frames} frames: StackCollapse's peak RSS {rss // 1024} MiB, not under 256 MiB")
        check(err == b"", f"{frames} frames: standard error a pipe, yet written: {err[:200]!r}")
        with open(out, "rb") as f:
            check(f.read() == bytes(8192 + FRAME), f"{frames} frames: the median is not the zero frame")
        if any(n.startswith("hedm_reduction") for n in os.listdir(build)):
            probe = ("import sys, resource; sys.path.insert(0, sys.argv[1]); import hedm_reduction as h;"
                     "calls = [];"
                     "m = h.median_file(sys.argv[2], progress=lambda d, t: calls.append((d, t)));"
                     "assert not m.any() and calls and calls[-1][0] == calls[-1][1] == %d;"
                     "assert all(a[0] <= b[0] for a, b in zip(calls, calls[1:]));"
                     "print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)" % (frames * FRAME))
            r = subprocess.run(["/usr/bin/python3", "-c", probe, build, stack], capture_output=True, text=True)
            check(r.returncode == 0, f"{frames} frames: median_file failed: {r.stderr[-500:]}")
            if r.returncode == 0:
                rss = int(r.stdout.split()[-1])
                check(rss < LIMIT_KIB, f"{frames} frames: median_file's peak RSS {rss // 1024} MiB, not under 256 MiB")
        os.remove(stack)

    # Standard error a file: nothing written to it.
    sparse_stack(stack, 200)
    with open(os.path.join(tmp, "err.txt"), "wb") as err:
        subprocess.run(collapse, stdout=subprocess.DEVNULL, stderr=err, check=False)
    check(os.path.getsize(os.path.join(tmp, "err.txt")) == 0, "standard error a file, yet written")

    # On a terminal: a run of more than a second shows the line, updated in
    # place, and clears it at the end.  A stack read afresh on one processor
    # takes some seconds; a deeper one is tried where a run was quicker.
    for frames in (400, 1600, 3200):
        sparse_stack(stack, frames)
        evict(stack)
        status, seen, seconds = on_terminal(["/usr/bin/taskset", "-c", "0", *collapse])
        os.remove(stack)
        if seconds > 2:
            break
    check(status == 0, f"on a terminal: status {status}")
    check(seen.startswith(b"Read file "), f"on a terminal: the report line is not first: {seen[:80]!r}")
    check(b"\rStackCollapse: " in seen and b"% " in seen and b" GB/s " in seen and b" left\x1b[K" in seen,
          f"on a terminal, {seconds:.1f} s: no progress line: {seen[:300]!r}")
    check(seen.endswith(b"\r\x1b[K"), f"on a terminal: the progress line is not cleared at the end: {seen[-80:]!r}")

for f in failures:
    print("FAILED:", f)
print(f"stack memory and progress: {'1 passed, 0 failed' if not failures else '0 passed, 1 failed'}")
sys.exit(1 if failures else 0)
