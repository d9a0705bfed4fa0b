"""The median of HDF5 stacks against numpy's lower median of the dataset h5py
reads, for 16- and 32-bit pixels, odd frame shapes, every chunk layout and
filter; StackCollapse's HDF5 and frame-file outputs, and the Python module.
    /usr/bin/python3 tests/hdf5_median_test.py BUILD_DIR"""
import os, subprocess, sys, tempfile
import h5py, numpy as np

build = os.path.abspath(sys.argv[1])
sys.path.insert(0, build)
failures = 0


def check(what, ok):
    global failures
    print(("ok: " if ok else "FAILED: ") + what)
    failures += not ok


def lower_median(stack):
    k = (stack.shape[0] - 1) // 2
    return np.partition(stack, k, axis=0)[k]


def run(*args, env=None):
    return subprocess.run([os.path.join(build, args[0]), *args[1:]], capture_output=True, text=True,
                          env=dict(os.environ, **(env or {})))


# Each stack read by the reader's own path (in place, or chunks decoded on
# every thread) and by the library's, which must agree.
LIBRARY = {"HEDM_HDF5_THROUGH_LIBRARY": "1"}


rng = np.random.default_rng(5)
# (frames, rows, columns, dtype, chunks, compression); 32-bit stacks whose
# values fit in 16 bits ("small") and whose first value beyond 16 bits comes
# at frame 3 ("late") take the 16-bit selection, then the per-pixel one.
cases = [
    (9, 30, 40, "<u4 small", (1, 30, 40), None),
    (9, 30, 40, "<u4 late", (1, 30, 40), "gzip"),
    (7, 1, 4099, "<u2", (1, 1, 4099), None),
    (6, 40, 60, ">u4", (2, 16, 16), "gzip"),
    (201, 24, 32, "<u2", (1, 24, 32), "bitshuffle"),
    (30, 1000, 1200, "<u4", None, None),
    (11, 50, 70, "<u2", None, None),
    (9, 100, 130, "<u2", (4, 64, 64), None),
    (10, 100, 130, "<u2", (4, 100, 130), None),
    (9, 64, 80, "<u4 hot", (1, 64, 80), None),
    (8, 64, 80, "<u4 hot", None, None),
    (9, 64, 80, "<u4 hot", (4, 64, 64), "bitshuffle"),
    (9, 64, 80, "<u2", (1, 64, 80), "lz4"),
    (9, 64, 80, "<u4 hot", (1, 64, 80), "bitshuffle-one-block"),  # each chunk one block: decoded once
    (9, 64, 80, "<u4", (4, 64, 64), "shuffle-gzip"),
    (5, 64, 80, "<u2", (2, 64, 64), "bzip2"),  # a filter only the library decodes
    (3, 2048, 2048, "<u2", (1, 2048, 2048), "gzip"),
]
FILTERS = {"gzip": dict(compression="gzip"), "bitshuffle": dict(compression=32008, compression_opts=(0, 2)),
           "bitshuffle-one-block": dict(compression=32008, compression_opts=(32768, 2)),
           "lz4": dict(compression=32004), "shuffle-gzip": dict(compression="gzip", shuffle=True),
           "bzip2": dict(compression=307)}
with tempfile.TemporaryDirectory() as d:
    import hedm_reduction as hr
    for n, rows, cols, dtype, chunks, comp in cases:
        name = f"{n}x{rows}x{cols} {dtype} chunks {chunks} {comp}"
        top = 70000 if "u4" in dtype and " " not in dtype else 65535
        kind = dtype.split()[1] if " " in dtype else ""
        dtype = dtype.split()[0]
        data = rng.integers(0, top, size=(n, rows, cols)).astype(dtype)
        data[:, 0, :3] = top  # saturated corner pixels
        if kind == "late":
            data[3:, 5, 7] = 90000
        if kind == "hot":  # masked lines at 2^32-1, medians at and about 65535, one masked in half the frames
            data[:, 10, :] = data[:, :, 7] = 2**32 - 1
            data[:, 20, 20] = 65535
            data[:, 20, 21] = rng.integers(65530, 65541, size=n)
            data[:, 20, 22] = rng.integers(0, 2**32, size=n, dtype=np.uint64)
            data[: n // 2 + 1, 30, 30] = 2**32 - 1
        path = os.path.join(d, "s.h5")
        with h5py.File(path, "w") as f:
            f.create_dataset("entry/data/data", data=data, chunks=chunks, **FILTERS.get(comp, {}))
        want = lower_median(data.astype(np.uint32 if "u4" in dtype else np.uint16))
        out = os.path.join(d, "m.h5")
        for env, how in ((None, ""), (LIBRARY, " (through the library)")):
            r = run("StackCollapse", path, out, env=env)
            with h5py.File(out) as f:
                got = f["/entry/data/data"][...]
                attrs = dict(f["/entry/data/data"].attrs)
            check(f"StackCollapse {name}{how}: status {r.returncode}, median equal to numpy's, one frame of {rows} x {cols}",
                  r.returncode == 0 and got.dtype == want.dtype and got.shape == (1, rows, cols) and (got == want).all())
            check(f"  its attributes name the source and {n} frames", int(attrs.get("frames", -1)) == n)
            os.environ.update(env or {})
            py = hr.median_file(path + "::/entry/data/data")
            os.environ.pop("HEDM_HDF5_THROUGH_LIBRARY", None)
            check(f"  median_file equal", py.dtype == want.dtype and (py == want).all())
        # ClipCount's reading of the stack as a data file: the same counts both ways.
        # ClipCount's dark and its data file (c_01.h5) the same stack.
        if os.path.exists(os.path.join(d, "c_01.h5")):
            os.remove(os.path.join(d, "c_01.h5"))
        os.link(path, os.path.join(d, "c_01.h5"))
        counts = ["".join(line for line in run("ClipCount", d, "c", "2", "1", "1", ".h5", path, "30000", env=env)
                          .stdout.splitlines(True) if not line.startswith("Time elapsed"))
                  for env in (None, LIBRARY)]
        check(f"  ClipCount's counts of its frames the same through the library", counts[0] == counts[1] and
              f"of {n}" in counts[0])
        if (rows, cols, dtype) == (2048, 2048, "<u2"):
            r = run("StackCollapse", path, os.path.join(d, "m.ge3"))
            raw = np.fromfile(os.path.join(d, "m.ge3"), dtype="<u2", offset=8192).reshape(2048, 2048)
            check("  2048 x 2048 16-bit written as a frame file too", r.returncode == 0 and (raw == want).all())
        else:
            r = run("StackCollapse", path, os.path.join(d, "m.ge3"))
            check("  other frames refused as a frame file: " + r.stdout.strip()[:60],
                  r.returncode == 1 and "name the output .h5" in r.stdout and not os.path.exists(os.path.join(d, "m.ge3")))
    # A chunk whose bytes were flipped after it was written (its first LZ4
    # block's stored size; the deflate stream's middle) is refused, naming
    # its frame, and the earlier output stays as it was.
    for comp, at in (("bitshuffle", 12), ("gzip", None)):
        bad = os.path.join(d, "corrupt.h5")
        with h5py.File(bad, "w") as f:
            ds = f.create_dataset("entry/data/data", data=rng.integers(0, 300, size=(6, 64, 80)).astype("<u2"),
                                  chunks=(1, 64, 80), **FILTERS[comp])
            mask, raw = ds.id.read_direct_chunk((3, 0, 0))
            raw = bytearray(raw)
            i = at if at is not None else len(raw) // 2
            raw[i:i + 4] = bytes(b ^ 0xFF for b in raw[i:i + 4])
            ds.id.write_direct_chunk((3, 0, 0), bytes(raw), mask)
        out = os.path.join(d, "earlier.h5")
        with h5py.File(out, "w") as f:  # an earlier median, which a new one would replace
            f.create_dataset("entry/data/data", data=np.ones((3, 64, 80), "<u2"))
        assert run("StackCollapse", out, out[:-3] + "_new.h5").returncode == 0
        os.replace(out[:-3] + "_new.h5", out)
        before = open(out, "rb").read()
        r = run("StackCollapse", bad, out)
        check(f"a corrupt {comp} chunk refused, naming frame 3: {r.stdout.strip()[:150]}",
              r.returncode == 1 and "frame 3 " in r.stdout and open(out, "rb").read() == before)
        r = run("StackCollapse", bad, out, env=LIBRARY)
        check(f"  and through the library: {r.stdout.strip()[:100]}",
              r.returncode == 1 and open(out, "rb").read() == before)
        r = run("ClipCount", d, "none", "5", "1", "0", ".ge3", bad, "30000")
        check(f"  and as ClipCount's dark, its frames counted on every thread: {r.stdout.strip()[-100:]}",
              r.returncode == 1 and "frame 3 " in r.stdout)

    # A stack is never replaced by a median, an HDF5 one neither.
    before = open(path, "rb").read()
    r = run("StackCollapse", os.path.join(d, "m.h5"), path)
    check("an HDF5 stack as the output is refused: " + r.stdout.strip()[:70],
          r.returncode == 1 and "the dataset /entry/data/data (3 x 2048 x 2048, uint16)" in r.stdout and
          open(path, "rb").read() == before)
    # A file is judged by its content: the same stack named .cxi, and behind
    # a user block (its superblock at byte 1024) named .ge3, is read as the
    # HDF5 stack it is, by every reader, as when it is named .h5.
    data = rng.integers(0, 65536, size=(5, 40, 60)).astype("<u2")
    want = lower_median(data)
    seen = {}
    for name, userblock in (("same.h5", 0), ("same.cxi", 0), ("same.ge3", 1024)):
        p = os.path.join(d, name)
        with h5py.File(p, "w", **({"userblock_size": userblock} if userblock else {})) as f:
            f.create_dataset("entry/data/data", data=data, chunks=(1, 40, 60), compression="gzip")
        out = os.path.join(d, "median_of_" + name + ".h5")
        r = run("StackCollapse", p, out)
        with h5py.File(out) as f:
            got = f["/entry/data/data"][...]
        check(f"{name}: StackCollapse's median is numpy's", r.returncode == 0 and (got == want).all())
        check(f"{name}: median_file's too", (hr.median_file(p) == want).all())
        r = run("ClipCount", d, "none", "5", "1", "0", ".ge3", p, "30000")
        r2 = run("FramePreview", p, os.path.join(d, "view.png"), "2")
        seen[name] = (r.stdout.splitlines()[0], r2.returncode, open(os.path.join(d, "view.png"), "rb").read())
    check("ClipCount's dark count and FramePreview's image the same whatever the name: " + seen["same.h5"][0],
          seen["same.h5"][1] == 0 and seen["same.h5"] == seen["same.cxi"] == seen["same.ge3"])
    # Frames read where they lie in a file behind a user block, reached by an
    # external link from a file without one: their places count from its end.
    with h5py.File(os.path.join(d, "ub_data.h5"), "w", userblock_size=1024) as f:
        f.create_dataset("entry/data/data", data=data, chunks=(1, 40, 60))
    with h5py.File(os.path.join(d, "ub_link.h5"), "w") as f:
        f["entry/data/data"] = h5py.ExternalLink("ub_data.h5", "/entry/data/data")
    r = run("StackCollapse", os.path.join(d, "ub_link.h5"), os.path.join(d, "ub_median.h5"))
    with h5py.File(os.path.join(d, "ub_median.h5")) as f:
        check("a linked dataset behind a user block: numpy's median",
              r.returncode == 0 and (f["/entry/data/data"][0] == want).all())
    # A frame file's median written as HDF5, at the same place.
    assert run("hedm-sample-data", "stack", os.path.join(d, "dark.ge3"), "3").returncode == 0
    r1 = run("StackCollapse", os.path.join(d, "dark.ge3"), os.path.join(d, "dark_median.ge3"))
    r2 = run("StackCollapse", os.path.join(d, "dark.ge3"), os.path.join(d, "dark_median.h5"))
    frame = np.fromfile(os.path.join(d, "dark_median.ge3"), dtype="<u2", offset=8192).reshape(2048, 2048)
    with h5py.File(os.path.join(d, "dark_median.h5")) as f:
        check("a frame file's median as HDF5 /entry/data/data", r1.returncode == 0 and r2.returncode == 0 and
              f["/entry/data/data"].shape == (1, 2048, 2048) and (f["/entry/data/data"][0] == frame).all())

print(f"hdf5 median: {0 if failures else 1} passed, {1 if failures else 0} failed")
sys.exit(1 if failures else 0)
