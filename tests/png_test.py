"""FramePreview's PNG files decoded by a real decoder, Pillow (Debian's
python3-pil), against the pixels worked out here with numpy from the frame:
the 8-bit view, linear and logarithmic, full size and binned, and the raw
16-bit values.

With --hdf5 (a build that reads HDF5), also frames of HDF5 stacks whose
detector masks pixels (32-bit ones at 2^32-1 in every frame, and a
pixel_mask beside the frames): their percentiles are numpy's over the
unmasked pixels (binned: over the blocks that have one, each the mean of
its unmasked pixels), the line that counts them is right, and the view is
no longer black but for the mask.

    /usr/bin/python3 tests/png_test.py <build-dir> [--hdf5]
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


def binned(values, n, masked=None):  # block means, rounded half up; of the unmasked pixels where a block has any
    rows, cols = values.shape[0] // n, values.shape[1] // n
    if masked is None:
        masked = np.zeros(values.shape, bool)

    def block_sum(a):
        return a.reshape(rows, n, cols, n).astype(np.uint64).sum(axis=(1, 3))
    total, count = block_sum(values), np.full((rows, cols), n * n, np.uint64)
    kept_sum, kept = block_sum(np.where(masked, 0, values)), block_sum(~masked)
    some = kept > 0
    total, count = np.where(some, kept_sum, total), np.where(some, kept, count)
    return ((total + count // 2) // count).astype(values.dtype), ~some


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
        shown, _ = binned(frame, n)
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


def masked_previews(d):
    """FramePreview of 32-bit frames with masked pixels, against numpy."""
    import h5py
    rng = np.random.default_rng(30)
    stack = rng.integers(100, 3000, size=(2, 300, 400)).astype("<u4")
    stack[:, 120:130, 200:210] = 40000  # a bright spot
    stack[:, [37, 38, 150], :] = stack[:, :, [250, 251]] = 2**32 - 1  # the detector's mask lines: 1.5% of the pixels
    mark = stack[0] == 2**32 - 1
    # Files with a pixel_mask have a hot row too, which their mask masks
    # with its values as they are.
    hot = stack.copy()
    hot[:, 200, :] = 60000
    pixel_mask = np.zeros((300, 400), "<u4")
    pixel_mask[200, :] = 1
    pixel_mask[5, 7] = 16
    eiger, nexus = "/entry/instrument/detector/detectorSpecific/pixel_mask", "/entry/instrument/eiger/pixel_mask"
    # name, where the pixel_mask is, its values, whether it is used; a
    # 16-bit stack has no mark of its own (65535 is a saturated pixel).
    cases = [("marked.h5", None, None, False), ("eiger.h5", eiger, pixel_mask, True),
             ("nexus.h5", nexus, pixel_mask, True), ("bool.h5", nexus, pixel_mask != 0, True),
             ("other_shape.h5", eiger, np.ones((3, 3), "<u4"), False), ("sixteen.h5", eiger, pixel_mask, True)]
    for name, mask_path, mask, used in cases:
        path = os.path.join(d, name)
        data, marks = (hot if used else stack), mark
        if name == "sixteen.h5":
            data, marks = np.where(hot == 2**32 - 1, 1000, hot).astype("<u2"), np.zeros((300, 400), bool)
        with h5py.File(path, "w") as f:
            f.create_dataset("/entry/data/data", data=data, chunks=(1, 300, 400), compression="gzip")
            if mask_path:
                f[mask_path] = mask
        masked = marks | (pixel_mask != 0) if used else marks
        said = ", or ".join(["the value 4294967295"] * bool(marks.any()) + [f"nonzero in {mask_path}"] * used)
        lines = [f"Warning: {path}::{mask_path} is 3 x 3, not the frame's 300 x 400: its masked pixels are not "
                 "left out."] if mask_path and not used else []
        count = int(masked.sum())
        lines.append(f"Masked pixels ({said}): {count} of 120000 ({100 * count / 120000:.2f}%), left out of the "
                     "percentiles.")
        for options, n in (([], 1), (["--bin", "4"], 4)):
            out = os.path.join(d, "masked.png")
            r = subprocess.run([os.path.join(build, "FramePreview"), path, out, "2", *options],
                               capture_output=True, text=True)
            shown, shown_masked = binned(data[1], n, masked)
            kept = shown[~shown_masked]
            lo, hi = percentile(kept, 1), percentile(kept, 99.5)
            what = f"{name} {options}"
            if r.returncode != 0 or r.stdout.splitlines()[:-1] != lines or f"(8-bit, {lo} to {hi}" not in r.stdout:
                failures.append(f"{what}: status {r.returncode}, expected {lines} and {lo} to {hi}: {r.stdout}")
                continue
            got = np.array(Image.open(out))
            if not np.array_equal(got, view(shown, lo, hi, False)):
                failures.append(f"{what}: the view differs from numpy's")
            if np.median(got[~shown_masked]) < 64:
                failures.append(f"{what}: the view is dark: median grey {np.median(got[~shown_masked])}")


if "--hdf5" in sys.argv:
    with tempfile.TemporaryDirectory() as d:
        masked_previews(d)

finish("png", failures)
