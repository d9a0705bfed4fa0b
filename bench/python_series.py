"""median() of series of frames beside median_file of the same frames, on the
shared bench's dark stacks (../shared/bench/gen_stack.c, 2048 x 2048 uint16),
100 and 400 frames:
  - a generator of 2-D arrays (each frame read from the frame file with
    np.fromfile) against median_file of the frame file (target: at most 2x);
  - an h5py dataset (one-frame chunks, the file opened read-only) against
    median_file of the same HDF5 file (target: at most 1.2x), and the same
    dataset read through h5py a frame at a time (a sequence wrapping it);
  - the peak resident size of median() of the 400-frame generator, in a
    process of its own (target: under 256 MiB plus one frame, 8 MiB);
  - a hexrd-style median (np.percentile over blocks of rows, the series
    read again for each block) of the same generator: how many times slower.
Every result is checked against median_file's.  A run on a quiet machine
only: figures from a busy one mean little.

    PYTHONPATH=build /usr/bin/python3 bench/python_series.py [work-dir] [depths...]
"""
import inspect
import os
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


def peak_rss_mib(path, n):
    code = f"""
import resource, numpy as np, hedm_reduction as h
{inspect.getsource(frames)}
h.median(frames({path!r}, {n}))
print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024)
"""
    r = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    return float(r.stdout)


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


for n in depths:
    ge, h5 = stack_files(n)
    subprocess.run(["cat", ge, h5], stdout=subprocess.DEVNULL, check=True)  # the page cache warm
    t_file, want = timed(lambda: h.median_file(ge))
    t_iter, got = timed(lambda: h.median(frames(ge, n)))
    assert np.array_equal(got, want)
    t_h5file, got = timed(lambda: h.median_file(h5))
    assert np.array_equal(got, want)
    with h5py.File(h5, "r") as f:
        t_h5py, got = timed(lambda: h.median(f["entry/data/data"]))
        assert np.array_equal(got, want)
        t_h5seq, got = timed(lambda: h.median(Indexed(f["entry/data/data"])))
        assert np.array_equal(got, want)
    print(f"{n} frames: median_file(frame file) {t_file:.2f} s; median(generator) {t_iter:.2f} s = {t_iter / t_file:.2f}x")
    print(f"{n} frames: median_file(HDF5) {t_h5file:.2f} s; median(h5py dataset) {t_h5py:.2f} s = {t_h5py / t_h5file:.2f}x;"
          f" through h5py a frame at a time {t_h5seq:.2f} s = {t_h5seq / t_h5file:.2f}x")
    if n == max(depths):
        print(f"{n} frames: peak RSS of median(generator) {peak_rss_mib(ge, n):.0f} MiB (bound 256 + 8 MiB)")
    t_hexrd, approx = timed(lambda: hexrd_style(ge, n))
    print(f"{n} frames: hexrd-style block-wise np.percentile {t_hexrd:.2f} s: median(generator) {t_hexrd / t_iter:.1f}x faster"
          f" (and exact: {np.count_nonzero(approx != want)} pixels of the percentile differ)")
    sys.stdout.flush()
if len(sys.argv) <= 1:
    shutil.rmtree(work)
