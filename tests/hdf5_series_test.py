"""A detector's series, and the medians the tools write read back by the
tools, against numpy and h5py.
    /usr/bin/python3 tests/hdf5_series_test.py BUILD_DIR

- A series of 100 frames in two data files of 50 (a master file whose
  /entry/data/data_000001 and data_000002 link to them; Eiger-like 32-bit
  frames compressed with bitshuffle/LZ4, masked pixels at 2^32 - 1, and
  16-bit ones with deflate): StackCollapse's median and median_file's equal
  numpy's lower median of the two files' frames, the master named as the
  file and as FILE::/entry/data, from another folder.
- ClipCount counting the series with the HDF5 median (a 2-D dataset) as its
  dark: numpy's counts, frame by frame.
- FramePreview of the HDF5 median: the image of the same frame given as a
  stack of one frame.
- A master file as StackCollapse's output is refused, it and its data files
  left as they were; a series with a data file missing is refused naming
  the file, nothing written.
"""
import os, subprocess, sys, tempfile
import h5py, numpy as np

build = os.path.abspath(sys.argv[1])
sys.path.insert(0, build)
import hedm_reduction as hr

failures = 0


def check(what, ok):
    global failures
    print(("ok: " if ok else "FAILED: ") + what)
    failures += not ok


def run(*args, cwd=None):
    return subprocess.run([os.path.join(build, args[0]), *args[1:]], capture_output=True, text=True, cwd=cwd)


def median_written(path):
    """The frame StackCollapse wrote into `path`, wherever in the file it is."""
    found = []
    with h5py.File(path) as f:
        f.visititems(lambda name, obj: found.append(obj[...]) if obj.attrs.get("written_by") == "StackCollapse" else None)
    return found[0] if len(found) == 1 else None


def lower_median(stack):
    k = (stack.shape[0] - 1) // 2
    return np.partition(stack, k, axis=0)[k]


def write_series(folder, stem, parts, **kw):
    for i, a in enumerate(parts, 1):
        with h5py.File(os.path.join(folder, f"{stem}_data_{i:06d}.h5"), "w") as f:
            f.create_dataset("/entry/data/data", data=a, chunks=(1,) + a.shape[1:], **kw)
    master = os.path.join(folder, f"{stem}_00001.h5")
    with h5py.File(master, "w") as f:
        for i in range(1, len(parts) + 1):
            f[f"/entry/data/data_{i:06d}"] = h5py.ExternalLink(f"{stem}_data_{i:06d}.h5", "/entry/data/data")
        mask = np.zeros(parts[0].shape[1:], "<u4")
        mask[:, 7] = 1
        f["/entry/instrument/detector/detectorSpecific/pixel_mask"] = mask
    return master


def snapshot(folder):
    return {n: open(os.path.join(folder, n), "rb").read() for n in sorted(os.listdir(folder))
            if os.path.isfile(os.path.join(folder, n))}


rng = np.random.default_rng(30)
bitshuffle = dict(compression=32008, compression_opts=(0, 2))
with tempfile.TemporaryDirectory() as d:
    run_dir = os.path.join(d, "run")
    os.mkdir(run_dir)
    for bits, dtype, kw, sat in ((32, "<u4", bitshuffle, 9000), (16, "<u2", dict(compression="gzip"), 9000)):
        frames = rng.poisson(4000, size=(100, 96, 120)).astype(dtype)
        frames[:, :, 7] = np.iinfo(dtype).max  # masked pixels: the detector's mark in every frame
        frames[::3, 5, 9] = 20000  # a hot pixel in a third of the frames
        master = write_series(run_dir, f"s{bits}", [frames[:50], frames[50:]], **kw)
        want = lower_median(frames)
        name = f"{bits}-bit series of 2 x 50 frames"
        for arg in (master, master + "::/entry/data"):
            shown = os.path.basename(master) + arg[len(master):]
            out = os.path.join(d, f"median{bits}.h5")
            r = run("StackCollapse", arg, out, cwd=d)
            got = median_written(out) if r.returncode == 0 else None
            check(f"StackCollapse {shown}, {name}: numpy's lower median",
                  got is not None and got.dtype == want.dtype and (got == want).all())
            calls = []
            py = hr.median_file(arg, progress=lambda done, total: calls.append((done, total)))
            check(f"  median_file equal", py.dtype == want.dtype and (py == want).all())
            # Bitshuffle chunks are decoded as their bands are selected: the
            # stack's bytes count once; others are decoded first, then selected.
            passes = 1 if kw is bitshuffle else 2
            check(f"  its progress: the stack's bytes decoded and selected, in order",
                  calls[-1] == (passes * frames.nbytes,) * 2 and [c[0] for c in calls] == sorted(c[0] for c in calls))

        # The median, a frame of its own, as ClipCount's dark: numpy's counts.
        r = run("ClipCount", run_dir, f"s{bits}", "5", "1", "1", ".h5", out, str(sat))
        dark = int((want >= sat).sum())
        counts = (frames >= sat).sum(axis=(1, 2)) - dark
        lines = [f"Frame {i + 1:03d} of 100 {c}." for i, c in enumerate(counts)]
        check(f"ClipCount of the {name} less its HDF5 median's count ({dark}): numpy's counts",
              r.returncode == 0 and r.stdout.splitlines()[0] == f"Number of saturated pixels per dark frame = {dark}."
              and r.stdout.splitlines()[4:104] == lines)

        # FramePreview of the median: the image of the same frame as a stack of one.
        one = os.path.join(d, f"one{bits}.h5")
        with h5py.File(one, "w") as f:
            f["/entry/data/data"] = want[None]
        r1 = run("FramePreview", out, "a.png", cwd=d)
        r2 = run("FramePreview", one, "b.png", cwd=d)
        same = r1.returncode == 0 and r1.stdout.replace(out, one).replace("a.png", "b.png") == r2.stdout
        check(f"FramePreview of the {bits}-bit HDF5 median: {r1.stdout.strip()}",
              same and open(os.path.join(d, "a.png"), "rb").read() == open(os.path.join(d, "b.png"), "rb").read())

    # The series is never replaced by a median, nor its data files.
    before = snapshot(run_dir)
    r = run("StackCollapse", os.path.join(d, "median16.h5"), os.path.join(run_dir, "s16_00001.h5"))
    r2 = run("StackCollapse", os.path.join(d, "median16.h5"), os.path.join(run_dir, "s16_data_000002.h5"))
    check("a master file and a data file as the output refused: " + r.stdout.strip()[:80],
          r.returncode == 1 and r2.returncode == 1 and snapshot(run_dir) == before)

    # A data file missing: refused by name, before any work.
    os.rename(os.path.join(run_dir, "s32_data_000002.h5"), os.path.join(run_dir, "away.h5"))
    before = snapshot(d)
    r = run("StackCollapse", os.path.join(run_dir, "s32_00001.h5"), os.path.join(d, "m.h5"))
    check("a missing data file refused by name: " + r.stdout.strip()[:100],
          r.returncode == 1 and "member data_000002: the data file s32_data_000002.h5 it links to cannot be opened"
          in r.stdout and snapshot(d) == before)
    try:
        hr.median_file(os.path.join(run_dir, "s32_00001.h5"))
        check("median_file refuses it too", False)
    except OSError as e:
        check("median_file refuses it too, an OSError", "s32_data_000002.h5" in str(e))

print(f"hdf5 series: {0 if failures else 1} passed, {1 if failures else 0} failed")
sys.exit(1 if failures else 0)
