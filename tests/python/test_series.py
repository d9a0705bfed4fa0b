"""median() and saturated_counts() over every kind of series a Python user
holds, against numpy's lower median and numpy's counts.

Run by CTest with the other module tests (HEDM_BUILD names the build)."""
import os
import subprocess
import sys
import itertools
import textwrap

import numpy as np
import pytest

import hedm_reduction as h

BUILD = os.environ["HEDM_BUILD"]
RNG = np.random.default_rng(20261209)
h5py = pytest.importorskip("h5py")
FILES = itertools.count()  # a new file for each series made: h5py cannot rewrite a file it holds open


def lower_median(stack):
    n = stack.shape[0]
    return np.partition(stack, (n - 1) // 2, axis=0)[(n - 1) // 2]


def frames_of(dtype, n=9, rows=21, cols=34):
    top = 1 << (8 * np.dtype(dtype).itemsize)
    s = RNG.integers(0, top, size=(n, rows, cols), dtype=dtype)
    s[:, :, ::5] = RNG.integers(0, 3, size=s[:, :, ::5].shape)  # ties
    s[:, 0, :] = top - 1  # the type's largest value (a detector's mask mark)
    return s


class OnlyIndexed:
    """A series as hexrd's image series is one: a length and indexing, no iterator."""

    def __init__(self, frames):
        self._frames = frames

    def __len__(self):
        return len(self._frames)

    def __getitem__(self, i):
        if not 0 <= i < len(self._frames):
            raise IndexError(i)
        return self._frames[i]


def as_h5(tmp_path, stack, mode):
    name = tmp_path / f"s{next(FILES)}.h5"
    with h5py.File(name, "w") as f:
        f.create_dataset("entry/data", data=stack, chunks=(1,) + stack.shape[1:])
    return h5py.File(name, mode)["entry/data"]


def as_memmap(tmp_path, stack):
    name = tmp_path / f"s{next(FILES)}.raw"
    stack.tofile(name)
    return np.memmap(name, dtype=stack.dtype, mode="r", shape=stack.shape)


# Each kind of series: a function of (tmp_path, stack) -> (series, the stack it holds).
KINDS = {
    "contiguous array": lambda t, s: (s, s),
    "odd strides": lambda t, s: (s[::-2, 1::3, ::-1], s[::-2, 1::3, ::-1]),
    "transposed frames": lambda t, s: (s.transpose(0, 2, 1), s.transpose(0, 2, 1)),
    "big-endian": lambda t, s: (s.astype(s.dtype.newbyteorder(">")), s),
    "memmap": lambda t, s: (as_memmap(t, s), s),
    "view of a memmap": lambda t, s: (np.asarray(as_memmap(t, s))[::-1], s[::-1]),
    "h5py read-only": lambda t, s: (as_h5(t, s, "r"), s),
    "h5py writable": lambda t, s: (as_h5(t, s, "r+"), s),
    "list": lambda t, s: (list(s), s),
    "generator": lambda t, s: ((f.copy() for f in s), s),
    "only __getitem__ and __len__": lambda t, s: (OnlyIndexed(list(s)), s),
    "objects with .data": lambda t, s: ([type("Image", (), {"data": f})() for f in s], s),
    "one 2-D frame": lambda t, s: (s[0], s[:1]),
}


@pytest.mark.parametrize("n", [1, 8, 9])
@pytest.mark.parametrize("dtype", [np.uint16, np.uint32])
@pytest.mark.parametrize("kind", sorted(KINDS))
def test_median_of_every_kind_of_series_is_the_lower_median(tmp_path, kind, dtype, n):
    series, stack = KINDS[kind](tmp_path, frames_of(dtype, n))
    got = h.median(series)
    assert got.dtype == dtype and np.array_equal(got, lower_median(np.ascontiguousarray(stack)))


def test_median_of_a_uint32_series_beyond_16_bits_late(tmp_path):
    # Frames that fit in 16 bits until the last: every pixel's median still exact.
    stack = frames_of(np.uint16, 12).astype(np.uint32)
    stack[-1, 3, 3] = 1 << 20
    assert np.array_equal(h.median(iter(stack)), lower_median(stack))


def test_median_of_paths_is_median_file(tmp_path):
    stack = tmp_path / "scan.ge3"
    assert subprocess.run([os.path.join(BUILD, "hedm-sample-data"), "scan", str(stack), "5"]).returncode == 0
    frames = np.fromfile(stack, dtype="<u2", offset=8192).reshape(5, 2048, 2048)
    want = h.median_file(str(stack))
    for series in (str(stack), stack, os.fsencode(stack), frames, iter(frames)):
        assert np.array_equal(h.median(series), want)
    fabio = pytest.importorskip("fabio")
    names = []
    for i in range(3):  # one file a frame, as a detector writes a scan
        names.append(str(tmp_path / f"one_{i:05d}.ge3"))
        with open(names[-1], "wb") as f:
            f.write(stack.read_bytes()[:8192] + frames[i].tobytes())
    series = fabio.open_series(filenames=names)
    assert np.array_equal(h.median(series.frames()), lower_median(frames[:3]))
    assert np.array_equal(h.median(fabio.open_series(filenames=names)), lower_median(frames[:3]))
    assert np.array_equal(h.median(fabio.open(str(stack))), want)  # a fabio image of many frames
    assert np.array_equal(h.median([fabio.open(n) for n in names]), lower_median(frames[:3]))


REFUSED = [
    ([np.zeros((5, 7), np.uint16)] * 3 + [np.zeros((5, 8), np.uint16)], ValueError,
     "frame 3 is 5 x 8 uint16; frame 0 is 5 x 7 uint16"),
    ([np.zeros((5, 7), np.uint16)] * 2 + [np.zeros((5, 7), np.uint32)], ValueError,
     "frame 2 is 5 x 7 uint32; frame 0 is 5 x 7 uint16"),
    ([np.zeros((5, 7), np.uint16), np.zeros((1, 5, 7), np.uint16)], ValueError,
     "frame 1 is a 3-dimensional array of uint16; frame 0 is 5 x 7 uint16"),
    ([np.zeros((5, 7), np.float64)], TypeError, "frame 0 is 5 x 7 float64: frames must be uint16 or uint32"),
    ([np.zeros(7, np.uint16)], ValueError, "frame 0 is a 1-dimensional array of uint16: a frame has 2 dimensions"),
    ([np.zeros((2, 2), np.uint16), {"not": "a frame"}], TypeError, "frame 1 is a dict, not a 2-D array"),
    (np.zeros((2, 3, 4, 5), np.uint16), ValueError, "frames must have 3 dimensions (frames, rows, columns), not 4"),
    (12, TypeError, "frames must be an array, a sequence or iterable of 2-D arrays, or a path, not a int"),
]


@pytest.mark.parametrize("frames, error, message", REFUSED)
def test_series_of_mixed_or_wrong_frames_are_refused_by_the_first_that_differs(frames, error, message):
    for call in (h.median, lambda f: h.saturated_counts(f, 5), lambda f: h.saturated_counts([], f, 5)):
        with pytest.raises(error) as caught:
            call(frames)
        text = str(caught.value).replace("dark", "frames")
        assert text.startswith(message) and "\n" not in text


def test_an_empty_series_has_no_median_and_no_counts():
    with pytest.raises(ValueError, match="frames holds no frame: an empty series has no median"):
        h.median(iter([]))
    assert h.saturated_counts([], 5).tolist() == []
    with pytest.raises(ValueError, match="dark holds no frame"):
        h.saturated_counts([np.zeros((2, 2), np.uint16)], [], 5)


@pytest.mark.parametrize("dtype", ["uint16", "uint32", "uint32 of 16-bit values"])
@pytest.mark.parametrize("kind", ["list", "generator", "h5py read-only", "contiguous array"])
def test_progress_is_called_monotonic_and_its_exception_stops_the_run(tmp_path, kind, dtype):
    series_of = lambda: KINDS[kind](tmp_path, frames)[0]
    frames = frames_of(np.dtype(dtype.split()[0]), 30, 200, 300)
    if dtype.endswith("values"):  # selected as 16-bit values, which count half the bytes
        frames = frames_of(np.uint16, 30, 200, 300).astype(np.uint32)
    calls = []
    got = h.median(series_of(), progress=lambda done, total: calls.append((done, total)))
    assert np.array_equal(got, lower_median(frames))
    assert calls and all(t == calls[-1][1] for _, t in calls) and calls[-1][0] == calls[-1][1]
    assert [d for d, _ in calls] == sorted(d for d, _ in calls)

    class Stop(Exception):
        pass

    def stop(done, total):
        raise Stop

    with pytest.raises(Stop):
        h.median(series_of(), progress=stop)
    with pytest.raises(TypeError, match="callable"):
        h.median(series_of(), progress=3)


@pytest.mark.parametrize("dtype", [np.uint16, np.uint32])
@pytest.mark.parametrize("kind", ["contiguous array", "odd strides", "h5py read-only", "generator", "memmap"])
def test_saturated_counts_of_every_kind_of_series_less_the_dark(tmp_path, kind, dtype):
    stack = frames_of(dtype, 6)
    dark = frames_of(dtype, 4)
    series, held = KINDS[kind](tmp_path, stack)
    # ClipCount's threshold is a 32-bit signed int: a larger one counts as 2**31 - 1.
    threshold = min(int(np.percentile(stack, 90)), 2**31 - 1)
    count = lambda s: (np.ascontiguousarray(s) >= threshold).sum(axis=(1, 2))
    want = count(held)
    assert h.saturated_counts(series, threshold).tolist() == want.tolist()
    series, _ = KINDS[kind](tmp_path, stack)
    assert h.saturated_counts(series, list(dark), threshold).tolist() == (want - count(dark).sum() // 4).tolist()
    series, _ = KINDS[kind](tmp_path, stack)
    assert h.saturated_counts(series, dark=dark[0], threshold=threshold).tolist() == (want - count(dark[:1])[0]).tolist()


def test_saturated_counts_with_a_dark_file_are_clip_counts(tmp_path):
    run = lambda *cmd: subprocess.run([os.path.join(BUILD, cmd[0]), *cmd[1:]], capture_output=True, text=True)
    assert run("hedm-sample-data", "scan", str(tmp_path / "s_00001.ge3"), "3").returncode == 0
    assert run("hedm-sample-data", "scan", str(tmp_path / "dark.ge3"), "2").returncode == 0
    with open(tmp_path / "dark.ge3", "ab") as f:
        f.write(b"\xff" * 6001)  # a partial frame: ClipCount counts its pixels in the dark
    out = run("ClipCount", str(tmp_path), "s", "5", "1", "1", ".ge3", "dark.ge3", "1000").stdout
    printed = [int(line.split()[-1].rstrip(".")) for line in out.splitlines() if line.startswith("Frame ")]
    frames = np.fromfile(tmp_path / "s_00001.ge3", dtype="<u2", offset=8192).reshape(3, 2048, 2048)
    assert printed and h.saturated_counts(iter(frames), tmp_path / "dark.ge3", 1000).tolist() == printed
    assert h.saturated_counts(str(tmp_path / "s_00001.ge3"), str(tmp_path / "dark.ge3"), 1000).tolist() == printed


def test_peak_memory_of_a_long_series_is_bounded(tmp_path):
    # 160 frames of 2048 x 2048 (1.3 GB) from a generator and from a memmap:
    # the module's memory (RssAnon, sampled while it runs; the pages of a
    # file the median reads through a mapping are the page cache's) rises by
    # less than 256 MiB plus one frame, and the memmap's pages read are
    # handed back (RssFile stays under the same bound).
    code = textwrap.dedent(f"""
        import threading, time, numpy as np, hedm_reduction as h, sys
        n, name, frame = 160, {str(tmp_path / 'big.raw')!r}, 2048 * 2048
        with open(name, "wb") as f:
            for i in range(n):
                (np.arange(frame, dtype=np.uint16) + i).tofile(f)

        def frames():
            with open(name, "rb") as f:
                for i in range(n):
                    yield np.fromfile(f, dtype=np.uint16, count=frame).reshape(2048, 2048)

        def status(key):
            with open("/proc/self/status") as f:
                return [int(line.split()[1]) // 1024 for line in f if line.startswith(key + ":")][0]

        peak, done = {{"RssAnon": 0, "RssFile": 0}}, threading.Event()

        def sample():
            while not done.is_set():
                for key in peak:
                    peak[key] = max(peak[key], status(key))
                time.sleep(0.005)

        m = np.memmap(name, dtype=np.uint16, mode="r", shape=(n, 2048, 2048))
        before = {{key: status(key) for key in peak}}
        threading.Thread(target=sample, daemon=True).start()
        a = h.median(m if sys.argv[1] == "memmap" else frames())
        done.set()
        assert a[0, 0] == (n - 1) // 2, a[0, 0]
        print(peak["RssAnon"] - before["RssAnon"], peak["RssFile"] - before["RssFile"])
    """)
    for kind in ("generator", "memmap"):
        r = subprocess.run([sys.executable, "-c", code, kind], capture_output=True, text=True,
                           env=dict(os.environ, TMPDIR=str(tmp_path)))
        assert r.returncode == 0, r.stderr
        anon, mapped = (int(v) for v in r.stdout.split())
        assert anon < 256 + 8, f"{kind}: anonymous memory rose by {anon} MiB"
        if kind == "memmap":
            assert mapped < 256 + 8, f"the memmap's pages read stayed resident: {mapped} MiB"


def test_a_spill_folder_that_cannot_be_written_is_named(tmp_path, monkeypatch):
    monkeypatch.setenv("TMPDIR", str(tmp_path / "missing"))
    with pytest.raises(OSError) as caught:
        h.median([np.zeros((4, 4), np.uint16)] * 3)
    assert str(caught.value) == f"Could not write the frames to a spill file in {tmp_path / 'missing'}: No such file or directory."
    assert np.array_equal(h.median(np.zeros((3, 4, 4), np.uint16)), np.zeros((4, 4)))  # in memory: no spill file
