"""median() of series of frames beside median_file of the same frames, on the
shared bench's dark stacks (../shared/bench/gen_stack.c, 2048 x 2048 uint16),
100 and 400 frames:
  - a generator of 2-D arrays (each frame read from the frame file with
    np.fromfile) against median_file of the frame file (target: at most 2x);
  - an h5py dataset (one-frame chunks, the file opened read-only) against
    median_file of the same HDF5 file (target: at most 1.2x), and the same
    dataset read through h5py a frame at a time (a sequence wrapping it);
  - the generator alone (its frames made and dropped): the part of
    median(generator) that is the caller's own;
  - the peak resident size (VmHWM: ru_maxrss would be the bench's own,
    kept across fork and exec) of median() of the 400-frame generator, in a
    process of its own, beside median_file's (target: under 256 MiB plus
    one frame, 8 MiB), and the peak of its anonymous memory (RssAnon,
    sampled every 5 ms);
  - a hexrd-style median (np.percentile over blocks of rows, the series
    read again for each block) of the same generator: how many times slower.
Every result is checked against median_file's; times are the medians of
ROUNDS interleaved rounds (HEDM_BENCH_ROUNDS, 3), the stacks synced to disk
first (freshly written stacks leave dirty pages whose writeback slows the
spill file's writes).  A run on a quiet machine only: figures from a busy
one mean little.

    PYTHONPATH=build /usr/bin/python3 bench/python_series.py [work-dir] [depths...]
"""
import inspect
import os
import statistics
import shutil
import subprocess
import sys
import tempfile
import time

import h5py
import numpy as np

import hedm_reduction as h

GEN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "shared", "bench", "gen_stack.c")
work = sys.argv[1] if len(sys.argv) > 1 else tempfile.mkdtemp()
depths = [int(d) for d in sys.argv[2:]] or [100, 400]
os.makedirs(work, exist_ok=True)
os.environ["TMPDIR"] = work  # the spill files beside the stacks


def timed(f):
    t = time.perf_counter()
    r = f()
    return time.perf_counter() - t, r


def frames(path, n):
    """The generator of every run (the peak RSS one's own process's too)."""
    with open(path, "rb") as f:
        f.seek(8192)
        for _ in range(n):
            yield np.fromfile(f, dtype="<u2", count=2048 * 2048).reshape(2048, 2048)


class Indexed:
    """An h5py dataset behind a sequence: read through h5py a frame at a time."""

    def __init__(self, ds):
        self.ds = ds

    def __len__(self):
        return len(self.ds)

    def __getitem__(self, i):
        return self.ds[i]


def hexrd_style(path, n, block_bytes=256 << 20):
    rows = max(1, block_bytes // (n * 2048 * 2))
    out = np.empty((2048, 2048), dtype=np.float64)
    for r0 in range(0, 2048, rows):
        block = np.empty((n, min(rows, 2048 - r0), 2048), dtype=np.uint16)
        for i, frame in enumerate(frames(path, n)):
            block[i] = frame[r0:r0 + rows]
        out[r0:r0 + rows] = np.percentile(block, 50, axis=0)
    return out


def peak_rss_mib(path, n, call):
    """The peak RSS and the peak RssAnon (sampled) of `call`, in MiB."""
    code = f"""
import threading, time, numpy as np, hedm_reduction as h
{inspect.getsource(frames)}
peak, done = [0], threading.Event()
def sample():
    while not done.is_set():
        with open("/proc/self/status") as f:
            anon = [int(line.split()[1]) for line in f if line.startswith("RssAnon:")][0]
        peak[0] = max(peak[0], anon)
        time.sleep(0.005)
threading.Thread(target=sample, daemon=True).start()
{call}
done.set()
with open("/proc/self/status") as f:
    hwm = [int(line.split()[1]) for line in f if line.startswith("VmHWM:")][0]
print(hwm / 1024, peak[0] / 1024)
"""
    r = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    return [float(v) for v in r.stdout.split()]


def stack_files(n):
    ge = os.path.join(work, f"dark_{n:04d}.ge3")
    if not os.path.exists(ge):
        gen = os.path.join(work, "gen_stack")
        if not os.path.exists(gen):
            subprocess.run(["cc", "-O2", "-o", gen, GEN, "-lm"], check=True)
        subprocess.run([gen, "dark", str(n), ge, str(n * 7 + 4)], check=True)
    h5 = ge[:-4] + ".h5"
    if not os.path.exists(h5):
        with h5py.File(h5, "w") as f:
            ds = f.create_dataset("entry/data/data", shape=(n, 2048, 2048), dtype=np.uint16, chunks=(1, 2048, 2048))
            for i, frame in enumerate(frames(ge, n)):
                ds[i] = frame
    return ge, h5


ROUNDS = int(os.environ.get("HEDM_BENCH_ROUNDS", "3"))
for n in depths:
    ge, h5 = stack_files(n)
    os.sync()
    subprocess.run(["cat", ge, h5], stdout=subprocess.DEVNULL, check=True)  # the page cache warm
    want = h.median_file(ge)
    times = {k: [] for k in ("file", "gen", "genonly", "h5file", "h5py", "h5seq")}
    with h5py.File(h5, "r") as f:
        ds = f["entry/data/data"]
        runs = {"file": lambda: h.median_file(ge), "gen": lambda: h.median(frames(ge, n)),
                "genonly": lambda: [f.sum(dtype=np.uint64) for f in frames(ge, n)] and want,
                "h5file": lambda: h.median_file(h5), "h5py": lambda: h.median(ds), "h5seq": lambda: h.median(Indexed(ds))}
        for _ in range(ROUNDS):
            for k, run in runs.items():
                t, got = timed(run)
                assert np.array_equal(got, want), k
                times[k].append(t)
    t = {k: statistics.median(v) for k, v in times.items()}
    print(f"{n} frames: median_file(frame file) {t['file']:.2f} s; median(generator) {t['gen']:.2f} s = "
          f"{t['gen'] / t['file']:.2f}x; the generator alone {t['genonly']:.2f} s, the rest "
          f"{(t['gen'] - t['genonly']) / t['file']:.2f}x")
    print(f"{n} frames: median_file(HDF5) {t['h5file']:.2f} s; median(h5py dataset) {t['h5py']:.2f} s = "
          f"{t['h5py'] / t['h5file']:.2f}x; through h5py a frame at a time {t['h5seq']:.2f} s = {t['h5seq'] / t['h5file']:.2f}x")
    if n == max(depths):
        gen = peak_rss_mib(ge, n, f"h.median(frames({ge!r}, {n}))")
        file = peak_rss_mib(ge, n, f"h.median_file({ge!r})")
        print(f"{n} frames: peak RSS of median(generator) {gen[0]:.0f} MiB (RssAnon {gen[1]:.0f} MiB), of median_file "
              f"{file[0]:.0f} MiB (RssAnon {file[1]:.0f} MiB); bound 256 + 8 MiB")
    t_hexrd, approx = timed(lambda: hexrd_style(ge, n))
    print(f"{n} frames: hexrd-style block-wise np.percentile {t_hexrd:.2f} s: median(generator) {t_hexrd / t['gen']:.1f}x"
          f" faster (and exact: {np.count_nonzero(approx != want)} pixels of the percentile differ)")
    sys.stdout.flush()
if len(sys.argv) <= 1:
    shutil.rmtree(work)
