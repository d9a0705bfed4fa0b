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

    with h5py.File(os.path.join(folder, "two.h5"), "w") as f:
        f["/a"] = np.zeros((3, 4, 5), "<u2")
        f["/b/c"] = np.zeros((2, 4, 5), "<u4")
    with h5py.File(os.path.join(folder, "none.h5"), "w") as f:
        f["/image"] = np.zeros((10, 12), "<u2")
        f["/energy"] = 71.676
    with h5py.File(os.path.join(folder, "types.h5"), "w") as f:
        f["/float32"] = np.zeros((2, 3, 4), "<f4")
        f["/int16"] = np.zeros((2, 3, 4), "<i2")
        f["/uint64"] = np.zeros((2, 3, 4), "<u8")
        f["/rank4"] = np.zeros((2, 2, 3, 4), "<u2")
    with h5py.File(os.path.join(folder, "negative.h5"), "w") as f:
        a = np.arange(3 * 4 * 5, dtype="<i4").reshape(3, 4, 5)
        a[2, 3, 4] = -5
        f["/data"] = a
    with open(os.path.join(folder, "frame16_bitshuffle.h5"), "rb") as src:
        whole = src.read()
    with open(os.path.join(folder, "truncated.h5"), "wb") as dst:
        dst.write(whole[: len(whole) // 2])
    with open(os.path.join(folder, "notes.h5"), "w") as f:
        f.write("not an HDF5 file\n")


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
