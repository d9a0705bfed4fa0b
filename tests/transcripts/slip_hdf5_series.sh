# A detector's series is one stack: a master file whose /entry/data links to
# two data files of 2 and 1 frames is collapsed and counted as its 3 frames,
# named as the file or as FILE::/entry/data; its median, a frame of its own
# (a two-dimensional dataset), is ClipCount's dark.  A data file missing, or
# one whose frames differ from the first's, is refused by name before any
# work, and nothing is written.
source "$(dirname "${BASH_SOURCE[0]}")/slips.bash"
mkdir run
/usr/bin/python3 - <<'PY'
import h5py, numpy as np
frames = (np.arange(3 * 64 * 80, dtype="<u4").reshape(3, 64, 80) * 7919) % 5003
def data(name, a):
    with h5py.File("run/" + name, "w") as f:
        f.create_dataset("/entry/data/data", data=a, chunks=(1, 64, a.shape[2]), compression="gzip")
def master(name, targets):
    with h5py.File("run/" + name, "w") as f:
        for i, t in enumerate(targets, 1):
            f[f"/entry/data/data_{i:06d}"] = h5py.ExternalLink(t, "/entry/data/data")
data("scan_data_000001.h5", frames[:2])
data("scan_data_000002.h5", frames[2:])
data("odd_data_000002.h5", frames[2:, :, :79])
master("scan_00001.h5", ["scan_data_000001.h5", "scan_data_000002.h5"])
master("gone_00001.h5", ["scan_data_000001.h5", "gone_data_000002.h5"])
master("odd_00001.h5", ["scan_data_000001.h5", "odd_data_000002.h5"])
PY
slip StackCollapse run/scan_00001.h5 median.h5
slip StackCollapse run/scan_00001.h5::/entry/data median_of_group.h5
slip ClipCount run scan 5 1 1 .h5 ../median.h5 4000
slip StackCollapse run/gone_00001.h5 m.h5
slip StackCollapse run/odd_00001.h5 m.h5
slip ClipCount run gone 5 1 1 .h5 ../median.h5 4000
ls
