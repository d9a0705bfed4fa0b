#!/usr/bin/env python3
"""The lower per-pixel median of a frame file by numpy, in column chunks so
that a 12 GB stack needs a few hundred MB: the independent reference the
StackCollapse benchmark checks its deep outputs against.
    numpy_median.py STACK OUT   (OUT: the input's header, then the median)"""
import sys

import numpy as np

HEADER, SIDE = 8192, 2048
src, dst = sys.argv[1:3]
pixels = SIDE * SIDE
with open(src, "rb") as f:
    header = f.read(HEADER)
stack = np.memmap(src, dtype="<u2", mode="r", offset=HEADER)
n = stack.size // pixels
stack = stack[: n * pixels].reshape(n, pixels)
k = (n - 1) // 2
median = np.empty(pixels, dtype="<u2")
step = max(4096, (256 << 20) // (2 * n) // 4096 * 4096)
for p in range(0, pixels, step):
    median[p : p + step] = np.partition(np.asarray(stack[:, p : p + step]), k, axis=0)[k]
with open(dst, "wb") as f:
    f.write(header)
    f.write(median.tobytes())
