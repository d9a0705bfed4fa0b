# ClipCount on HDF5 stacks: the same lines as for the same frames in frame
# files, 16-bit (deflate, one frame a chunk) and 32-bit (tiles, values
# beyond 16 bits, the threshold taken as it is); a dataset that is not there.
hedm-sample-data stack s_00001.ge3 2 1
hedm-sample-data stack s_00002.ge3 1 2
hedm-sample-data stack dark.ge3 2 3
StackCollapse dark.ge3 dark_median.ge3 >/dev/null
/usr/bin/python3 - <<'PY'
import numpy as np, h5py
def frames(name):
    return np.fromfile(name, dtype="<u2", offset=8192).reshape(-1, 2048, 2048)
for n in (1, 2):
    a = frames(f"s_0000{n}.ge3")
    with h5py.File(f"s_0000{n}.h5", "w") as f:
        f.create_dataset("entry/data/data", data=a, chunks=(1, 2048, 2048), compression="gzip")
    with h5py.File(f"w_0000{n}.h5", "w") as f:
        f.create_dataset("entry/data/data", data=a.astype("<u4") * 40, chunks=(1, 512, 1024))
with h5py.File("dark40.h5", "w") as f:
    f.create_dataset("entry/data/data", data=frames("dark_median.ge3").astype("<u4") * 40)
PY
ClipCount . s 5 1 2 .ge3 dark_median.ge3 1900 | sed '$d' >frames.txt
ClipCount . s 5 1 2 .h5 dark_median.ge3 1900 | sed '$d' | sed 's/\.h5$/.ge3/' >stacks.txt
cmp frames.txt stacks.txt && echo "16-bit HDF5 stacks: the lines of their frame files"
ClipCount . w 5 1 2 .h5::/entry/data/data dark40.h5 76000 | sed '$d' >wide.txt
cmp <(sed 's/^\(.*\)s_\(0000[12]\)\.ge3$/\1w_\2.h5::\/entry\/data\/data/' frames.txt) wide.txt &&
  echo "32-bit HDF5 stacks, values times 40, threshold times 40: the same lines"
cat wide.txt
ClipCount . s 5 1 1 .h5::/entry/nothing dark_median.ge3 1900
echo "status $?"
