"""hedm_reduction beside numpy and StackCollapse, in one run (medians of
interleaved rounds):
  median_frame on a (100, 2048, 2048) uint16 stack against np.partition and
  np.median over axis 0, values checked, and its peak memory beyond the stack;
  median_file against StackCollapse on the same 100-frame file.

    PYTHONPATH=build /usr/bin/python3 bench/python_median.py build [work-dir]
"""
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

import hedm_reduction as h

build = os.path.abspath(sys.argv[1])
work = sys.argv[2] if len(sys.argv) > 2 else tempfile.mkdtemp()
os.makedirs(work, exist_ok=True)


def timed(f):
    t = time.perf_counter()
    r = f()
    return time.perf_counter() - t, r


def peak_mib():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


path = os.path.join(work, "stack100.ge3")
if not os.path.exists(path):
    subprocess.run([os.path.join(build, "hedm-sample-data"), "scan", path, "100"], check=True)

# The stack in memory, filled frame by frame so that nothing else is resident.
stack = np.empty((100, 2048, 2048), dtype=np.uint16)
with open(path, "rb") as f:
    f.seek(8192)
    for i in range(100):
        f.readinto(memoryview(stack[i]).cast("B"))
before = peak_mib()
t, ours = timed(lambda: h.median_frame(stack))
extra = peak_mib() - before
print(f"median_frame peak memory beyond the stack: {extra:.1f} MiB (output frame 8 MiB)")

rounds = {"median_frame": [], "np.partition": [], "np.median": []}
for r in range(3):
    rounds["median_frame"].append(timed(lambda: h.median_frame(stack))[0])
    t, part = timed(lambda: np.partition(stack, 49, axis=0)[49])
    rounds["np.partition"].append(t)
    rounds["np.median"].append(timed(lambda: np.median(stack, axis=0))[0])
    if r == 0:
        print("median_frame equals np.partition:", np.array_equal(ours, part))
m = {k: statistics.median(v) for k, v in rounds.items()}
print(f"median_frame {m['median_frame']:.3f} s, np.partition {m['np.partition']:.2f} s "
      f"({m['np.partition'] / m['median_frame']:.0f}x), np.median {m['np.median']:.2f} s "
      f"({m['np.median'] / m['median_frame']:.0f}x)")
del stack, part

out = os.path.join(work, "median.ge3")
a, b = [], []
for r in range(8):
    a.append(timed(lambda: h.median_file(path))[0])
    b.append(timed(lambda: subprocess.run([os.path.join(build, "StackCollapse"), path, out],
                                          stdout=subprocess.DEVNULL, check=True))[0])
same = h.median_file(path).tobytes() == open(out, "rb").read()[8192:]
ma, mb = statistics.median(a[1:]), statistics.median(b[1:])
print(f"median_file {ma * 1e3:.0f} ms, StackCollapse {mb * 1e3:.0f} ms: {ma / mb:.2f}x; same frame: {same}")
