"""FramePreview's PNG files decoded by a real decoder, Pillow (Debian's
python3-pil), against the pixels worked out here with numpy from the frame:
the 8-bit view, linear and logarithmic, full size and binned, and the raw
16-bit values.

    /usr/bin/python3 tests/png_test.py <build-dir>
"""
import os
import subprocess
import sys
import tempfile

from reader_check import finish, require

np, Image = require("png", "python3-pil python3-numpy", "numpy", "PIL.Image")

build = os.path.abspath(sys.argv[1])
failures = []

# A frame with a gradient, a bright spot and a few extremes.
rows, cols = np.mgrid[0:2048, 0:2048]
frame = ((rows * 3 + cols * 5) % 3000 + 100).astype(np.uint16)
frame[1000:1010, 500:510] = 60000
frame[0, 0], frame[2047, 2047] = 0, 65535


def percentile(values, p):  # nearest rank
    s = np.sort(values, axis=None)
    rank = max(int(np.ceil(p / 100 * s.size)), 1)
    return int(s[rank - 1])


def binned(values, n):  # block means, rounded half up
    side = values.shape[0] // n
    blocks = values.reshape(side, n, side, n).astype(np.uint64).sum(axis=(1, 3))
    return ((blocks + n * n // 2) // (n * n)).astype(np.uint16)


def view(values, lo, hi, log):
    span = float(hi - lo) if hi > lo else 1.0
    above = np.maximum(values.astype(np.float64) - lo, 0.0)
    t = np.log1p(above) / np.log1p(span) if log else above / span
    return np.floor(np.clip(t, 0.0, 1.0) * 255.0 + 0.5).astype(np.uint8)


with tempfile.TemporaryDirectory() as d:
    path = os.path.join(d, "frame.ge3")
    with open(path, "wb") as f:
        f.write(bytes(8192))
        f.write(frame.astype("<u2").tobytes())
    for options, n, log in (([], 1, False), (["--log"], 1, True), (["--bin", "4"], 4, False),
                            (["--log", "--bin", "2", "--raw", os.path.join(d, "raw.png")], 2, True)):
        out = os.path.join(d, "view.png")
        r = subprocess.run([os.path.join(build, "FramePreview"), path, out, "1", "1", "99.5", *options],
                           capture_output=True, text=True)
        if r.returncode != 0:
            failures.append(f"FramePreview {options}: status {r.returncode}: {r.stdout}")
            continue
        shown = binned(frame, n)
        lo, hi = percentile(shown, 1), percentile(shown, 99.5)
        got = np.array(Image.open(out))
        want = view(shown, lo, hi, log)
        if got.shape != want.shape or got.dtype != np.uint8:
            failures.append(f"{options}: decoded {got.shape} {got.dtype}, expected {want.shape} uint8")
        elif not np.array_equal(got, want):
            failures.append(f"{options}: {np.count_nonzero(got != want)} pixels differ")
        if f"(8-bit, {lo} to {hi}" not in r.stdout:
            failures.append(f"{options}: the report names other percentiles: {r.stdout}")
    raw = np.array(Image.open(os.path.join(d, "raw.png"))).astype(np.uint16)
    if not np.array_equal(raw, frame):
        failures.append("the 16-bit PNG does not hold the frame's values")

finish("png", failures)
