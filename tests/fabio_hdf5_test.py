"""fabio (Debian's python3-fabio) opens every kind of HDF5 median
StackCollapse writes as a user would: FILE alone where the median has the
file to itself, FILE::/DATASET where the user named the dataset; 16- and
32-bit, from a frame file and from HDF5 stacks.  fabio's frame equals
numpy's lower median of the stack h5py reads (32-bit masked pixels, the
type's largest value in every frame, stay that value), and the file's
NeXus groups lead from its root to the median, as silx follows them.

First, what fabio.open reads as one frame at all, in files h5py writes:
the facts the medians' place and shape rest on.

    /usr/bin/python3 tests/fabio_hdf5_test.py <build-dir>
"""
import os
import subprocess
import sys
import tempfile

from reader_check import finish, require

fabio, h5py, np = require("fabio hdf5", "python3-fabio python3-h5py python3-numpy", "fabio", "h5py", "numpy")

build = os.path.abspath(sys.argv[1])
failures = []
rng = np.random.default_rng(30)


def fabio_frame(url):
    """The one frame fabio reads at `url`, or the reason it reads none."""
    try:
        image = fabio.open(url)
    except Exception as e:  # fabio's refusals come as several kinds
        return f"{type(e).__name__}: {e}"
    try:
        if image.nframes != 1:
            return f"{image.nframes} frames"
        return np.array(image.data)
    finally:
        image.close()


def signal_path(path):
    """The dataset that the NeXus attributes lead to, as silx follows them:
    the root's default entry (an NXentry), its default NXdata, its signal."""
    with h5py.File(path) as f:
        group = f
        for cls in ("NXentry", "NXdata"):
            name = group.attrs.get("default")
            if not isinstance(name, str) or name not in group or group[name].attrs.get("NX_class") != cls:
                return None
            group = group[name]
        signal = group.attrs.get("signal")
        return group[signal].name if isinstance(signal, str) and signal in group else None


def lower_median(stack):
    k = (stack.shape[0] - 1) // 2
    return np.partition(stack, k, axis=0)[k]


def run(*cmd):
    r = subprocess.run([os.path.join(build, cmd[0]), *cmd[1:]], capture_output=True, text=True)
    if r.returncode != 0:
        failures.append(f"{' '.join(cmd)}: status {r.returncode}: {r.stdout}")
    return r.returncode == 0


with tempfile.TemporaryDirectory() as d:
    # What fabio.open reads as one frame: (place, shape, url names the
    # dataset, read).  Without a dataset name only /entry/data/data of
    # (1, rows, columns) is read; with one, either shape anywhere.
    frame = rng.integers(0, 2**32, size=(12, 10), dtype=np.uint64).astype("<u4")
    layouts = [("/entry/data/data", 3, False, True), ("/entry/data/data", 2, False, False),
               ("/median", 2, False, False), ("/median", 3, False, False),
               ("/analysis/dark_median", 2, True, True), ("/analysis/dark_median", 3, True, True)]
    for i, (place, rank, named, read) in enumerate(layouts):
        path = os.path.join(d, f"layout{i}.h5")
        with h5py.File(path, "w") as f:
            f[place] = frame if rank == 2 else frame[None]
        got = fabio_frame(path + "::" + place if named else path)
        ok = isinstance(got, np.ndarray) and np.array_equal(got, frame)
        if ok != read:
            failures.append(f"fabio.open of a {rank}-D {place}, {'named' if named else 'unnamed'}: "
                            f"{'read' if ok else got}, expected {'one frame' if read else 'none'}")

    # The stacks: a frame file, and HDF5 stacks of 16 and 32 bits, the
    # 32-bit one with masked pixels.
    stacks = {"dark.ge3": None}
    run("hedm-sample-data", "stack", os.path.join(d, "dark.ge3"), "3")
    raw = np.fromfile(os.path.join(d, "dark.ge3"), dtype="<u2", offset=8192)
    stacks["dark.ge3"] = raw.reshape(3, 2048, 2048)
    wide = rng.integers(0, 200000, size=(7, 50, 60), dtype=np.uint64).astype("<u4")
    wide[:, 10, :] = wide[:, :, 20] = 2**32 - 1
    for name, data, kw in (("dark16.h5", rng.integers(0, 65536, size=(6, 40, 70)).astype("<u2"),
                            dict(chunks=(1, 40, 70), compression="gzip")),
                           ("dark32.h5", wide, dict(chunks=(1, 50, 60), compression=32008, compression_opts=(0, 2)))):
        with h5py.File(os.path.join(d, name), "w") as f:
            f.create_dataset("/entry/data/data", data=data, **kw)
        stacks[name] = data
    with h5py.File(os.path.join(d, "results.h5"), "w") as f:
        f["/analysis/peaks"] = np.arange(30.0).reshape(10, 3)

    # Each median: the file alone, a dataset named in a new file, and one
    # added to a file that holds other data.
    for source, data in stacks.items():
        want = lower_median(data)
        stem = os.path.join(d, source.replace(".", "_"))
        for out, url in ((stem + "_median.h5", stem + "_median.h5"),
                         (stem + "_named.h5::/analysis/run7/median", None),
                         (os.path.join(d, "results.h5") + f"::/analysis/{source.replace('.', '_')}", None)):
            if not run("StackCollapse", os.path.join(d, source), out):
                continue
            got = fabio_frame(url or out)
            if not (isinstance(got, np.ndarray) and got.dtype == want.dtype and np.array_equal(got, want)):
                failures.append(f"fabio.open({url or out}) of the median of {source}: " +
                                (got if isinstance(got, str) else f"{got.dtype} {got.shape}, values differ"))
        if source == "dark32.h5" and not (want[10, :] == 2**32 - 1).all():
            failures.append("the median of a masked pixel is not the mark 2^32-1")
        if signal_path(stem + "_median.h5") != "/entry/data/data":
            failures.append(f"the median of {source}: NeXus leads to {signal_path(stem + '_median.h5')}")
        # A dataset the user named is that dataset alone, in plain groups.
        with h5py.File(stem + "_named.h5") as f:
            groups = [f] + [f[g] for g in ("analysis", "analysis/run7")]
            if any(len(g.attrs) for g in groups) or list(f) != ["analysis"]:
                failures.append(f"the median of {source} named in a new file: more than its dataset")

finish("fabio hdf5", failures)
