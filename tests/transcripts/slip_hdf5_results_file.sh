# StackCollapse's median and an HDF5 results file that holds other data:
# FILE::/DATASET adds the median beside them, a second run replaces that
# earlier median; the file alone, or a dataset that is not a median, is
# refused and the file kept byte for byte.
source "$(dirname "${BASH_SOURCE[0]}")/slips.bash"
hedm-sample-data h5 deflate16.h5 5 --rows 64 --columns 80 --filter deflate >/dev/null
/usr/bin/python3 - <<'PY'
import h5py, numpy as np
with h5py.File("results.h5", "w") as f:
    f.attrs["experiment"] = "Ti-7Al, load step 3"
    f["/analysis/peaks"] = np.arange(30.0).reshape(10, 3)
    f["/analysis/peaks"].attrs["units"] = "mm"
    f["/analysis/strongest"] = h5py.SoftLink("/analysis/peaks")
PY
# Each object of a file: its path, what it is, its attributes.
objects() {
  /usr/bin/python3 - "$1" <<'PY'
import sys, h5py
def attrs(o):
    return ", ".join(f"{k}={o.attrs[k]}" for k in sorted(o.attrs))
def show(group, prefix):
    for name in group:
        path, link = prefix + "/" + name, group.get(name, getlink=True)
        if isinstance(link, h5py.SoftLink):
            print(f"  {path} soft link to {link.path}")
        elif isinstance(group[name], h5py.Group):
            print(f"  {path} group {attrs(group[name])}".rstrip())
            show(group[name], path)
        else:
            d = group[name]
            print(f"  {path} dataset {d.dtype} {d.shape} {attrs(d)}".rstrip())
with h5py.File(sys.argv[1], "r") as f:
    print(f"objects of {sys.argv[1]}:\n  / group {attrs(f)}".rstrip())
    show(f, "")
PY
}
files
objects results.h5
slip StackCollapse deflate16.h5 'results.h5::/analysis/dark_median'
slip StackCollapse deflate16.h5 'results.h5::/analysis/dark_median'
files
objects results.h5
slip StackCollapse deflate16.h5 results.h5
slip StackCollapse deflate16.h5 'results.h5::/analysis/peaks'
slip StackCollapse deflate16.h5 'results.h5::/analysis/strongest'
files
