# An HDF5 stack is read as one whatever its name: named .cxi, or named
# .ge3 like a frame file, it gives the median, counts and preview it gives
# named .h5.
source "$(dirname "${BASH_SOURCE[0]}")/slips.bash"
hedm-sample-data h5 stack.h5 3 --rows 256 --columns 256 >/dev/null
cp stack.h5 stack.cxi
cp stack.h5 stack_00001.ge3
files
slip StackCollapse stack.h5 median_h5.h5
slip StackCollapse stack.cxi median_cxi.h5
slip StackCollapse stack_00001.ge3 median_ge3.h5
/usr/bin/python3 - <<'PY'
import h5py, numpy as np
m = [h5py.File(f"median_{n}.h5")["/entry/data/data"][...] for n in ("h5", "cxi", "ge3")]
print("the three medians equal:", all(np.array_equal(m[0], x) for x in m[1:]))
PY
slip ClipCount . stack 5 1 1 .ge3 stack.cxi 60000
slip FramePreview stack.cxi view_cxi.png
slip FramePreview stack.h5 view_h5.png
files
