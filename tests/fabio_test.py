"""A real reader of detector frame files, fabio (Debian's python3-fabio), opens
every kind of frame file the programs write: PanelPack's frames, StackCollapse's
median of a zero-header stack, and hedm-sample-data's stacks.  Frame count,
shape, type and every pixel are checked against the file's bytes, and the
median against numpy's lower median of the frames fabio reads.

    /usr/bin/python3 tests/fabio_test.py <build-dir>
"""
import os
import subprocess
import sys
import tempfile

from reader_check import finish, require

fabio, np = require("fabio", "python3-fabio python3-numpy", "fabio", "numpy")

build = os.path.abspath(sys.argv[1])
failures = []


def run(*cmd, status=0):
    r = subprocess.run([os.path.join(build, cmd[0]), *cmd[1:]], capture_output=True, text=True)
    if r.returncode != status:
        failures.append(f"{' '.join(cmd)}: status {r.returncode}: {r.stdout}")


def frames_of(path):
    """The file's whole frames straight from its bytes."""
    data = np.fromfile(path, dtype="<u2", offset=8192)
    n = data.size // (2048 * 2048)
    return data[: n * 2048 * 2048].reshape(n, 2048, 2048)


def read_with_fabio(path, expect_frames):
    """Every frame of `path` as fabio reads it, checked against the bytes."""
    image = fabio.open(path)
    if image.nframes != expect_frames:
        failures.append(f"{path}: fabio sees {image.nframes} frames, not {expect_frames}")
    raw = frames_of(path)
    frames = []
    for f in range(image.nframes):
        frame = image.getframe(f).data if f else image.data
        if frame.shape != (2048, 2048) or frame.dtype != np.uint16:
            failures.append(f"{path} frame {f}: shape {frame.shape}, type {frame.dtype}")
        elif not np.array_equal(frame, raw[f]):
            failures.append(f"{path} frame {f}: pixels differ from the file's bytes")
        frames.append(np.array(frame))
    return np.stack(frames)


with tempfile.TemporaryDirectory() as d:
    # hedm-sample-data's stacks, dark-like and data-like.
    for kind, n in (("stack", 5), ("scan", 4)):
        path = os.path.join(d, f"{kind}.ge3")
        run("hedm-sample-data", kind, path, str(n))
        stack = read_with_fabio(path, n)
        # StackCollapse of the zero-header stack against numpy's lower median.
        median = os.path.join(d, f"{kind}_median.ge3")
        run("StackCollapse", path, median)
        lower = np.sort(stack, axis=0)[(n - 1) // 2]
        if not np.array_equal(read_with_fabio(median, 1)[0], lower):
            failures.append(f"StackCollapse median of {kind} differs from numpy's lower median")
    # PanelPack's frames.
    run("hedm-sample-data", "floats", os.path.join(d, "img_"), "1", "2")
    run("PanelPack", os.path.join(d, "img_"), "1", "2", "5", "raw", "1", status=1)
    for i in (1, 2):
        frame = read_with_fabio(os.path.join(d, f"img_{i:05d}.ge3"), 1)[0]
        if frame.max() != 14000:
            failures.append(f"img_{i:05d}.ge3: brightest pixel {frame.max()}, not 14000")

finish("fabio", failures)
