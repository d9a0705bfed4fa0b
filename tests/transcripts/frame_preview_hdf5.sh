# FramePreview on HDF5 stacks: a frame of 1000 x 1200 16-bit pixels (with
# its raw values), one of 32-bit pixels (the view alone; the sample's hot pixels,
# at 2^32-1, the detector's mark for masked ones, left out of the
# percentiles), and the raw values asked of 32-bit pixels, refused.
hedm-sample-data h5 small.h5 2 --rows 1000 --columns 1200 --filter deflate
hedm-sample-data h5 wide.h5 2 --bits 32 --rows 300 --columns 500 --chunks tile
FramePreview small.h5 small.png 2 --raw small_raw.pgm
echo "status $?"
/usr/bin/python3 - <<'PY'
import h5py, numpy as np
with h5py.File("small.h5") as f:
    frame = f["/entry/data/data"][1]
raw = open("small_raw.pgm", "rb").read()
header = b"P5\n1200 1000\n65535\n"
assert raw[:len(header)] == header, raw[:20]
assert (np.frombuffer(raw[len(header):], dtype=">u2").reshape(1000, 1200) == frame).all()
print("the raw image holds frame 2's values")
PY
FramePreview wide.h5::/entry/data/data wide.pgm 1 --bin 2
echo "status $?"
head -c 15 wide.pgm | head -2
FramePreview wide.h5 wide_view 1
echo "status $?"
ls
