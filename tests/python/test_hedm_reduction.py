"""hedm_reduction against numpy and against the programs' own outputs.

Run by CTest as: python3 -m pytest tests/python, with HEDM_BUILD naming the
build folder (the module and the programs are there)."""
import os
import pathlib
import subprocess

import numpy as np
import pytest

import hedm_reduction as h

BUILD = os.environ["HEDM_BUILD"]
RNG = np.random.default_rng(20261208)


def lower_median(stack):
    n = stack.shape[0]
    return np.partition(stack, (n - 1) // 2, axis=0)[(n - 1) // 2]


def random_stack(n, rows, cols):
    """Values of every kind in one stack: ties, the extremes, noise."""
    s = RNG.integers(0, 65536, size=(n, rows, cols), dtype=np.uint16)
    flat = s.reshape(n, -1)
    flat[:, 0::4] = RNG.integers(0, 3, size=flat[:, 0::4].shape)  # heavy ties
    flat[:, 1::4] = RNG.choice([0, 65535], size=flat[:, 1::4].shape)  # only the extremes
    flat[:, 2::4] = 1000 + RNG.integers(0, 64, size=flat[:, 2::4].shape)  # dark-like noise
    return s


def run(*cmd, cwd=None):
    return subprocess.run([os.path.join(BUILD, cmd[0]), *cmd[1:]], cwd=cwd, capture_output=True, text=True)


@pytest.mark.parametrize("n", list(range(1, 41)) + [63, 64, 65, 100, 199, 200, 201, 333])
def test_median_frame_is_the_lower_median_at_every_depth(n):
    stack = random_stack(n, 3, 67)
    got = h.median_frame(stack)
    assert got.dtype == np.uint16 and got.shape == (3, 67)
    assert np.array_equal(got, lower_median(stack))


@pytest.mark.parametrize("shape", [(1, 1), (3, 5), (1, 4099), (2048, 2048)])
def test_median_frame_of_any_frame_shape(shape):
    stack = random_stack(3 if shape == (2048, 2048) else 9, *shape)
    assert np.array_equal(h.median_frame(stack), lower_median(stack))


def test_median_frame_of_views_that_are_not_contiguous():
    stack = random_stack(11, 40, 60)
    for view in (stack[:, ::2, ::3], stack[::2], stack.transpose(0, 2, 1), stack[:, 5:, 7:]):
        assert not view.flags.c_contiguous
        assert np.array_equal(h.median_frame(view), lower_median(np.ascontiguousarray(view)))
    assert stack.flags.writeable and np.array_equal(stack, stack.copy())  # the input is left as it was


def test_median_frame_of_uint32_stacks_is_the_lower_median():
    # 1025 frames are taken in bands of 8184 pixels: 20000 pixels make three,
    # and only the middle one holds values beyond 16 bits, so that both
    # selections and the bands' seams are passed through.
    stack = RNG.integers(0, 65536, size=(1025, 2, 10000), dtype=np.uint32)
    stack[:, 0, 1000:1010] = 65535
    stack[RNG.integers(0, 1025, 500), 1, RNG.integers(0, 10000, 500)] = 0xFFFFFFFF
    stack[3, 0, 9000] = 1 << 20
    got = h.median_frame(stack)
    assert got.dtype == np.uint32 and got.shape == (2, 10000)
    assert np.array_equal(got, lower_median(stack))
    for n in (1, 2, 7, 64):
        wide = RNG.integers(0, 1 << 32, size=(n, 5, 9), dtype=np.uint32)
        narrow = wide & 0xFFFF
        assert np.array_equal(h.median_frame(wide), lower_median(wide))
        assert np.array_equal(h.median_frame(narrow), h.median_frame(narrow.astype(np.uint16)))
    view = stack[::5, :, ::7]
    assert np.array_equal(h.median_frame(view), lower_median(np.ascontiguousarray(view)))


def test_median_frame_refuses_what_is_not_a_uint16_or_uint32_stack():
    for dtype in (np.int32, np.float64, np.uint8, np.int16):
        with pytest.raises(TypeError, match=f"uint16 or uint32, not {np.dtype(dtype).name}"):
            h.median_frame(np.zeros((3, 4, 4), dtype=dtype))
    with pytest.raises(ValueError, match="3 dimensions"):
        h.median_frame(np.zeros((4, 4), dtype=np.uint16))
    with pytest.raises(ValueError, match="no frame"):
        h.median_frame(np.zeros((0, 4, 4), dtype=np.uint16))


FRAMES = [np.zeros((2048, 2048), dtype=np.uint16) for _ in range(10)]


@pytest.mark.parametrize("call, takes, given", [
    (lambda: h.median_frame(FRAMES), "stack: numpy.ndarray of uint16 or uint32", "list"),
    (lambda: h.median_frame(FRAMES, 3), "stack: numpy.ndarray of uint16 or uint32", "list, int"),
    (lambda: h.median_frame(), "stack: numpy.ndarray of uint16 or uint32", ""),
    (lambda: h.median_frame(stak=FRAMES), "stack: numpy.ndarray of uint16 or uint32", "stak=list"),
    (lambda: h.median_file(FRAMES), "path: str or os.PathLike, *, progress: callable or None", "list"),
    (lambda: h.median_file(pathlib.Path("x.ge3"), FRAMES), "path: str or os.PathLike, *, progress: callable or None", "PosixPath, list"),
    (lambda: h.saturated_counts(np.stack(FRAMES), 14000.5),
     "frames: array, series of 2-D arrays or path, [dark,] threshold: int", "numpy.ndarray, float"),
    (lambda: h.saturated_counts(FRAMES, None, "14000"),
     "frames: array, series of 2-D arrays or path, [dark,] threshold: int", "list, NoneType, str"),
    (lambda: h.median(FRAMES, 3),
     "frames: array, h5py dataset, series of 2-D arrays or path, *, progress: callable or None", "list, int"),
    (lambda: h.scale_image([1.0] * 100000), "image: numpy.ndarray of float32", "list"),
])
def test_wrong_argument_types_raise_a_one_line_type_error(call, takes, given):
    # Named by the argument types, never their values: pybind11's own
    # message held every frame's numbers.
    with pytest.raises(TypeError) as caught:
        call()
    text = str(caught.value)
    assert text.endswith(f"() takes ({takes}), not ({given})") and "\n" not in text and len(text) < 200


def test_median_file_takes_a_path_object(tmp_path):
    stack = tmp_path / "stack.ge3"
    assert run("hedm-sample-data", "stack", str(stack), "3").returncode == 0
    assert np.array_equal(h.median_file(stack), h.median_file(str(stack)))
    assert np.array_equal(h.median_file(path=stack), h.median_file(str(stack)))
    with pytest.raises(OSError, match="missing.ge3"):
        h.median_file(tmp_path / "missing.ge3")


def test_median_file_is_stack_collapses_frame(tmp_path):
    for kind, n in (("stack", 7), ("scan", 30)):
        stack = tmp_path / f"{kind}.ge3"
        assert run("hedm-sample-data", kind, str(stack), str(n)).returncode == 0
        with open(stack, "ab") as f:
            f.write(b"\x07" * 5001)  # a partial frame, which belongs to no frame
        assert run("StackCollapse", str(stack), str(tmp_path / "median.ge3")).returncode == 0
        written = (tmp_path / "median.ge3").read_bytes()[8192:]
        got = h.median_file(str(stack))
        assert got.shape == (2048, 2048) and got.dtype == np.uint16
        assert got.tobytes() == written


def test_median_functions_on_one_processor_or_all(tmp_path):
    # The module takes its threads from the affinity mask, as StackCollapse
    # does: one processor or all of them, the same frame.
    stack = tmp_path / "scan.ge3"
    assert run("hedm-sample-data", "scan", str(stack), "25").returncode == 0
    frames = np.fromfile(stack, dtype="<u2", offset=8192).reshape(25, 2048, 2048)[:, :64]
    allowed = os.sched_getaffinity(0)
    try:
        os.sched_setaffinity(0, {min(allowed)})
        one = h.median_file(str(stack)), h.median_frame(frames)
    finally:
        os.sched_setaffinity(0, allowed)
    assert np.array_equal(h.median_file(str(stack)), one[0])
    assert np.array_equal(h.median_frame(frames), one[1])
    assert np.array_equal(one[1], lower_median(frames))


def test_median_file_fails_as_stack_collapse_does(tmp_path):
    short = tmp_path / "short.ge3"
    short.write_bytes(bytes(8192 + 100))
    for path, error in ((tmp_path / "missing.ge3", OSError), (tmp_path, OSError), (short, ValueError)):
        said = run("StackCollapse", str(path), str(tmp_path / "out.ge3")).stdout.strip()
        with pytest.raises(error) as caught:
            h.median_file(str(path))
        assert str(caught.value) + " Exiting." == said  # the program closes the same message


def test_saturated_counts_are_clip_counts(tmp_path):
    assert run("hedm-sample-data", "scan", str(tmp_path / "s_00001.ge3"), "4").returncode == 0
    (tmp_path / "dark.ge3").write_bytes(bytes(8192 + 2048 * 2048 * 2))  # no saturated pixel
    for threshold in (1000, 14000, 65535):
        out = run("ClipCount", str(tmp_path), "s", "5", "1", "1", ".ge3", "dark.ge3", str(threshold)).stdout
        printed = [int(line.split()[-1].rstrip(".")) for line in out.splitlines() if line.startswith("Frame ")]
        stack = np.fromfile(tmp_path / "s_00001.ge3", dtype="<u2", offset=8192).reshape(-1, 2048, 2048)
        assert h.saturated_counts(stack, threshold).tolist() == printed
    tiny = np.array([[[0, 1, 2]], [[65535, 65534, 3]]], dtype=np.uint16)
    assert h.saturated_counts(tiny, 2).tolist() == [1, 3]
    assert h.saturated_counts(tiny, 0).tolist() == [3, 3]
    assert h.saturated_counts(tiny, 70000).tolist() == [0, 0]


def test_scale_image_is_panel_packs_conversion(tmp_path):
    assert run("hedm-sample-data", "floats", str(tmp_path / "img_"), "1", "2", "raw", "2").returncode == 0
    run("PanelPack", str(tmp_path / "img_"), "1", "2", "5", "raw", "1")
    for i in (1, 2):
        image = np.fromfile(tmp_path / f"img_{i:05d}.raw", dtype="<f4").reshape(2048, 2048)
        image[0, :4] = [np.nan, -5.0, 0.0, np.inf if i == 2 else 1.0]
        image.tofile(tmp_path / f"img_{i:05d}.raw")
    r = run("PanelPack", str(tmp_path / "img_"), "1", "2", "5", "raw", "1")
    # Image 2, with an infinite pixel, is not converted by PanelPack nor by
    # the module: an infinite maximum leaves no scale.
    assert "img_00002.raw holds 1 infinite pixel" in r.stdout
    image = np.fromfile(tmp_path / "img_00001.raw", dtype="<f4").reshape(2048, 2048)
    assert h.scale_image(image).tobytes() == (tmp_path / "img_00001.ge3").read_bytes()[8192:]
    image = np.fromfile(tmp_path / "img_00002.raw", dtype="<f4").reshape(2048, 2048)
    with pytest.raises(ValueError, match="holds 1 infinite pixel"):
        h.scale_image(image)
    assert h.scale_image(np.array([2.5, 1.25, -3.0], dtype=np.float32)).tolist() == [14000, 7000, 0]
    with pytest.raises(TypeError, match="float32"):
        h.scale_image(np.zeros(4, dtype=np.float64))


def test_median_file_progress_is_called_and_its_exception_stops_the_run(tmp_path):
    stack = tmp_path / "scan.ge3"
    assert run("hedm-sample-data", "scan", str(stack), "30").returncode == 0
    calls = []
    got = h.median_file(str(stack), progress=lambda done, total: calls.append((done, total)))
    assert np.array_equal(got, h.median_file(str(stack)))
    assert calls[-1] == (30 * 2048 * 2048 * 2,) * 2 and all(t == calls[-1][1] for _, t in calls)
    assert [d for d, _ in calls] == sorted(d for d, _ in calls)

    class Stop(Exception):
        pass

    def stop(done, total):
        raise Stop(f"{done} of {total}")

    with pytest.raises(Stop):
        h.median_file(str(stack), progress=stop)
    with pytest.raises(TypeError, match="callable"):
        h.median_file(str(stack), progress=3)
