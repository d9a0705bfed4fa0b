"""HDF5 files for the stack reader's tests, written by h5py (Debian's
python3-h5py, with bitshuffle/LZ4 and LZ4 from the HDF5 plugin folder).

  hdf5_files.py make DIR       every stack of the table below as DIR/NAME.h5,
                               its values as DIR/NAME.bin ('<u4', frame-major),
                               and the files that must be refused
  hdf5_files.py dump FILE DATASET OUT
                               DATASET's values to OUT ('<u4') and one line
                               describing it: type, shape, chunks, filters, attributes
"""
import os
import sys

import h5py
import numpy as np

BITSHUFFLE_LZ4 = dict(compression=32008, compression_opts=(0, 2))
LZ4 = dict(compression=32004)

# name, shape, type, chunks, compression
STACKS = [
    ("frame16_bitshuffle", (3, 1000, 1200), "<u2", (1, 1000, 1200), BITSHUFFLE_LZ4),
    ("frame16_plain", (4, 50, 50), "<u2", (1, 50, 50), {}),
    ("row32_deflate", (4, 1, 4099), "<u4", (1, 1, 4099), dict(compression="gzip")),
    ("tile16_deflate", (7, 33, 45), "<u2", (3, 8, 16), dict(compression="gzip", shuffle=True)),
    ("tile32_bitshuffle", (5, 40, 50), "<u4", (2, 16, 16), BITSHUFFLE_LZ4),
    ("contiguous32", (5, 33, 45), "<u4", None, {}),
    ("contiguous16_bigendian", (3, 64, 64), ">u2", None, {}),
    ("signed32_lz4", (6, 20, 30), "<i4", (2, 20, 30), LZ4),
    ("frames4_plain", (9, 20, 30), "<u2", (4, 20, 30), {}),
    ("tile16_plain", (9, 100, 130), "<u2", (4, 64, 64), {}),
    # chunks of several bitshuffle blocks and a few elements past the last
    # group of 8 (stored as they are)
    ("odd16_bitshuffle", (7, 77, 101), "<u2", (3, 77, 101), BITSHUFFLE_LZ4),
    ("odd32_bitshuffle", (5, 33, 45), "<u4", (2, 33, 45), BITSHUFFLE_LZ4),
]


def values(rng, shape, dtype):
    top = {"u2": 65535, "u4": 2**32 - 1, "i4": 2**31 - 1}[np.dtype(dtype).str[1:]]
    a = rng.integers(0, top, size=shape, dtype=np.uint64, endpoint=True)
    flat = a.reshape(-1)
    flat[::7] = top  # the extremes
    flat[3::11] = 0
    return a.astype(dtype)


def make(folder):
    rng = np.random.default_rng(25)
    for name, shape, dtype, chunks, compression in STACKS:
        a = values(rng, shape, dtype)
        with h5py.File(os.path.join(folder, name + ".h5"), "w") as f:
            f.create_dataset("/entry/data/data", data=a, chunks=chunks, **compression)
        a.astype("<u4").tofile(os.path.join(folder, name + ".bin"))

    # A master file whose data are in another file, as detectors write them;
    # the same dataset reached a second time through a soft link.
    with h5py.File(os.path.join(folder, "data_000001.h5"), "w") as f:
        f["/entry/data/data"] = np.arange(2 * 6 * 7, dtype="<u2").reshape(2, 6, 7)
    with h5py.File(os.path.join(folder, "master.h5"), "w") as f:
        f["/entry/data/data_000001"] = h5py.ExternalLink("data_000001.h5", "/entry/data/data")
        f["/entry/instrument/detector/data"] = h5py.SoftLink("/entry/data/data_000001")
        f["/entry/instrument/detector/x_pixel_size"] = 75e-6
        f["/entry/sample/name"] = "Ti-7Al"
    with h5py.File(os.path.join(folder, "dangling.h5"), "w") as f:
        f["/entry/data/data_000002"] = h5py.ExternalLink("missing.h5", "/entry/data/data")
        f["/entry/image"] = np.zeros((10, 12), "<u2")

    make_series(folder, rng)

    with h5py.File(os.path.join(folder, "two.h5"), "w") as f:
        f["/a"] = np.zeros((3, 4, 5), "<u2")
        f["/b/c"] = np.zeros((2, 4, 5), "<u4")
    with h5py.File(os.path.join(folder, "none.h5"), "w") as f:
        f["/image"] = np.arange(10 * 12, dtype="<u2").reshape(10, 12)
        f["/energy"] = 71.676
    with h5py.File(os.path.join(folder, "nothing.h5"), "w") as f:
        f["/energy"] = 71.676
        f["/angles"] = np.zeros(5, "<f8")
        f["/flatfield"] = np.ones((10, 12), "<f4")
    with h5py.File(os.path.join(folder, "empty.h5"), "w") as f:
        f["/entry/data/data"] = np.zeros((0, 4, 5), "<u2")
    with h5py.File(os.path.join(folder, "images.h5"), "w") as f:
        f["/a"] = np.zeros((10, 12), "<u2")
        f["/b"] = np.zeros((10, 12), "<u4")
    with h5py.File(os.path.join(folder, "types.h5"), "w") as f:
        f["/float32"] = np.zeros((2, 3, 4), "<f4")
        f["/int16"] = np.zeros((2, 3, 4), "<i2")
        f["/uint64"] = np.zeros((2, 3, 4), "<u8")
        f["/rank4"] = np.zeros((2, 2, 3, 4), "<u2")
    with h5py.File(os.path.join(folder, "negative.h5"), "w") as f:
        a = np.arange(3 * 4 * 5, dtype="<i4").reshape(3, 4, 5)
        a[2, 3, 4] = -5
        f["/data"] = a
        f.create_dataset("/lz4", data=a, chunks=(1, 4, 5), compression=32004)
    with open(os.path.join(folder, "frame16_bitshuffle.h5"), "rb") as src:
        whole = src.read()
    with open(os.path.join(folder, "truncated.h5"), "wb") as dst:
        dst.write(whole[: len(whole) // 2])
    with open(os.path.join(folder, "notes.h5"), "w") as f:
        f.write("not an HDF5 file\n")


def data_file(folder, name, a, **kw):
    with h5py.File(os.path.join(folder, name), "w") as f:
        f.create_dataset("/entry/data/data", data=a, **kw)


def master(folder, name, links, extra=None):
    """A detector's master file: /entry/data/data_00000N linking to each
    data file's /entry/data/data."""
    with h5py.File(os.path.join(folder, name), "w") as f:
        for i, target in enumerate(links, 1):
            f[f"/entry/data/data_{i:06d}"] = h5py.ExternalLink(target, "/entry/data/data")
        f["/entry/instrument/detector/detectorSpecific/pixel_mask"] = np.zeros((6, 7), "<u4")
        if extra:
            extra(f)


def make_series(folder, rng):
    # Two data files of 3 and 2 frames (16-bit), and three of 2, 1 and 3
    # frames (32-bit, tiles, bitshuffle), their frames in order in NAME.bin.
    parts = [rng.integers(0, 65536, size=(n, 6, 7)).astype("<u2") for n in (3, 2)]
    for i, a in enumerate(parts, 1):
        data_file(folder, f"s2_data_{i:06d}.h5", a, chunks=(1, 6, 7), compression="gzip")
    def beside(f):  # a soft link to a member, and a virtual dataset of the same frames
        f["/entry/instrument/detector/data"] = h5py.SoftLink("/entry/data/data_000001")
        layout = h5py.VirtualLayout(shape=(5, 6, 7), dtype="<u2")
        layout[0:3] = h5py.VirtualSource("s2_data_000001.h5", "/entry/data/data", shape=(3, 6, 7))
        layout[3:5] = h5py.VirtualSource("s2_data_000002.h5", "/entry/data/data", shape=(2, 6, 7))
        f.create_virtual_dataset("/entry/data/data", layout)

    master(folder, "series2.h5", [f"s2_data_{i:06d}.h5" for i in (1, 2)], beside)
    np.concatenate(parts).astype("<u4").tofile(os.path.join(folder, "series2.bin"))
    parts = [rng.integers(0, 2**32, size=(n, 40, 50), dtype=np.uint64).astype("<u4") for n in (2, 1, 3)]
    os.mkdir(os.path.join(folder, "run"))
    for i, a in enumerate(parts, 1):
        data_file(folder, f"run/s3_data_{i:06d}.h5", a, chunks=(1, 16, 16), **BITSHUFFLE_LZ4)
    master(folder, "run/series3.h5", [f"s3_data_{i:06d}.h5" for i in (1, 2, 3)])
    np.concatenate(parts).tofile(os.path.join(folder, "series3.bin"))
    # Members that differ from the first: in type (the second), in shape (the third).
    data_file(folder, "d_data_000001.h5", np.zeros((2, 6, 7), "<u2"))
    data_file(folder, "d_data_000002.h5", np.zeros((2, 6, 7), "<u4"))
    data_file(folder, "d_data_000003.h5", np.zeros((2, 6, 8), "<u2"))
    master(folder, "series_differ.h5", [f"d_data_{i:06d}.h5" for i in (1, 2, 3)])
    master(folder, "series_shape.h5", ["d_data_000001.h5", "d_data_000003.h5"])
    master(folder, "series_missing.h5", ["s2_data_000001.h5", "gone_data_000002.h5"])


def dump(path, dataset, out):
    with h5py.File(path, "r") as f:
        d = f[dataset]
        d[...].astype("<u4").tofile(out)
        chunks = "x".join(map(str, d.chunks)) if d.chunks else "none"
        filters = ",".join(f"{k}{v}".replace(" ", "") for k, v in sorted(d._filters.items())) or "none"
        attrs = ",".join(f"{k}={d.attrs[k]}" for k in sorted(d.attrs))
        print(f"{d.dtype.str} {'x'.join(map(str, d.shape))} chunks={chunks} filters={filters} {attrs}")


if __name__ == "__main__":
    if sys.argv[1] == "make":
        make(sys.argv[2])
    else:
        dump(*sys.argv[2:5])
