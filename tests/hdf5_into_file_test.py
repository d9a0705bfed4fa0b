"""StackCollapse writing its median into an HDF5 file that exists, checked
with h5py: FILE::/DATASET adds the dataset, or replaces an earlier median,
and every other object of the file (values, attributes, links) stays as it
was; whatever else is in the way is refused with the file unchanged; a full
disk leaves the file as it was.
    /usr/bin/python3 tests/hdf5_into_file_test.py BUILD_DIR"""
import os, resource, shutil, signal, stat, subprocess, sys, tempfile
import h5py, numpy as np

build = os.path.abspath(sys.argv[1])
failures = 0


def check(what, ok):
    global failures
    print(("ok: " if ok else "FAILED: ") + what)
    failures += not ok


def run(*args, file_limit=None):
    def limit():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (file_limit, file_limit))
    return subprocess.run([os.path.join(build, args[0]), *args[1:]], capture_output=True, text=True,
                          preexec_fn=limit if file_limit else None)


def lower_median(stack):
    k = (stack.shape[0] - 1) // 2
    return np.partition(stack, k, axis=0)[k]


def snapshot(path):
    """Every object of the file by its path: each link's kind and target;
    each group's attributes; each dataset's type, shape, layout, filters,
    values, attributes and address (the same address under two paths: one
    object, hard-linked twice); each named type."""
    out = {}

    def attrs(o):
        return tuple(sorted((k, repr(o.attrs[k])) for k in o.attrs))

    def walk(g, prefix):
        out[prefix or "/"] = ("group", attrs(g))
        for name in g:
            p = prefix + "/" + name
            link = g.get(name, getlink=True)
            if isinstance(link, h5py.SoftLink):
                out[p] = ("soft link", link.path)
            elif isinstance(link, h5py.ExternalLink):
                out[p] = ("external link", link.filename, link.path)
            elif isinstance(g[name], h5py.Group):
                walk(g[name], p)
            elif isinstance(g[name], h5py.Dataset):
                d = g[name]
                out[p] = ("dataset", d.dtype.str, d.shape, d.chunks, tuple(sorted(d._filters)), np.asarray(d[()]).tobytes(),
                          attrs(d), h5py.h5o.get_info(d.id).addr)
            else:
                out[p] = ("named type", g[name].dtype.str, attrs(g[name]))

    with h5py.File(path, "r") as f:
        walk(f, "")
    return out


def make_results(path):
    """A results file as an analysis leaves it: attributes everywhere, a
    stack, compressed and scalar datasets, soft, external and hard links, a
    named type, and a median an earlier version wrote (no written_by)."""
    with h5py.File(path, "w") as f:
        f.attrs["experiment"] = "Ti-7Al, load step 3"
        f["/analysis/peaks"] = np.arange(40000.0).reshape(200, 200)
        f["/analysis"].attrs["note"] = "peaks fitted"
        f["/analysis/peaks"].attrs["units"] = "mm"
        f.create_dataset("/entry/data/data", data=np.arange(3 * 16 * 16, dtype="<u2").reshape(3, 16, 16),
                         chunks=(1, 16, 16), compression="gzip")
        f["/entry/energy"] = 71.676
        f["/entry/sample"] = "Ti-7Al"
        f["/peaks_link"] = h5py.SoftLink("/analysis/peaks")
        f["/raw"] = h5py.ExternalLink("raw.h5", "/entry/data/data")
        f["/peaks_again"] = f["/analysis/peaks"]
        f["/pixel_type"] = np.dtype("<u2")
        old = f.create_dataset("/old/median", data=np.full((8, 8), 3, "<u2"))
        old.attrs["source_file"] = "old_dark.ge3"
        old.attrs["frames"] = np.uint64(9)


def make_stack(path, frames, rows, columns, seed, **kw):
    data = np.random.default_rng(seed).integers(0, 65536, size=(frames, rows, columns)).astype("<u2")
    with h5py.File(path, "w") as f:
        f.create_dataset("/entry/data/data", data=data, **kw)
    return data


def others_kept(before, after, new):
    """The objects of `before` all in `after`, as they were, and `after`
    holding nothing else but `new` and the groups made for it."""
    made = {p for p in after if p not in before}
    return all(after.get(p) == v for p, v in before.items() if p != new) and \
        all(p == new or new.startswith(p + "/") for p in made)


def left_beside(folder, names):
    return sorted(set(os.listdir(folder)) - set(names))


with tempfile.TemporaryDirectory() as d:
    os.chdir(d)
    make_results("results.h5")
    os.chmod("results.h5", 0o640)
    dark = make_stack("dark.h5", 5, 40, 60, 1, chunks=(1, 40, 60), compression="gzip")
    dark2 = make_stack("dark2.h5", 4, 40, 60, 2)
    present = ["results.h5", "dark.h5", "dark2.h5"]
    original = snapshot("results.h5")

    # Added beside everything else; then replaced by another median.
    for stack, data, what in (("dark.h5", dark, "added"), ("dark2.h5", dark2, "replaced by the next run's")):
        r = run("StackCollapse", stack, "results.h5::/analysis/dark_median")
        after = snapshot("results.h5")
        with h5py.File("results.h5") as f:
            m = f["/analysis/dark_median"]
            got, attrs = m[()], dict(m.attrs)
        check(f"median {what}: status {r.returncode}, numpy's median, source {attrs.get('source_file')}",
              r.returncode == 0 and np.array_equal(got, lower_median(data)[None]) and attrs["source_file"] == stack and
              attrs["frames"] == len(data) and attrs["written_by"] == "StackCollapse")
        check("  every other object as it was", others_kept(original, after, "/analysis/dark_median"))
        check("  the file's permissions kept, nothing left beside it",
              stat.S_IMODE(os.stat("results.h5").st_mode) == 0o640 and left_beside(d, present) == [])

    # A median of an earlier version (no written_by) is replaced too, and a
    # new group is made for a new name.
    before = snapshot("results.h5")
    r = run("StackCollapse", "dark.h5", "results.h5::/old/median")
    r2 = run("StackCollapse", "dark.h5", "results.h5::/analysis/run2/dark_median")
    after = snapshot("results.h5")
    check("an earlier version's median replaced, a new group made",
          r.returncode == 0 and r2.returncode == 0 and after["/old/median"][2] == (1, 40, 60) and
          all(after.get(p) == v for p, v in before.items() if p != "/old/median") and
          set(after) - set(before) == {"/analysis/run2", "/analysis/run2/dark_median"})

    # Whatever else is in the way is refused, naming it; the file unchanged.
    refusals = [
        ("results.h5", "results.h5 holds the attributes of the group /, the attributes of the group /analysis, "
                       "the dataset /analysis/peaks (200 x 200, float64) and 7 more, which a median written as "
                       "the whole file would replace"),
        ("results.h5::/analysis/peaks", "results.h5 holds the dataset /analysis/peaks (200 x 200, float64), "
                                        "which is not a median written by StackCollapse: it is not replaced."),
        ("results.h5::/entry", "the group /entry, which is not a median"),
        ("results.h5::/entry/data/data", "the dataset /entry/data/data (3 x 16 x 16, uint16), which is not"),
        ("results.h5::/peaks_link", "the soft link /peaks_link, which is not a median"),
        ("results.h5::/raw/median", "the external link /raw, where the median's dataset /raw/median needs a "
                                    "group of its own."),
        ("results.h5::/entry/energy/median", "the dataset /entry/energy (scalar, float64), where"),
        ("results.h5::/pixel_type", "the named datatype /pixel_type, which is not a median"),
    ]
    bytes_before = open("results.h5", "rb").read()
    for out, said in refusals:
        r = run("StackCollapse", "dark.h5", out)
        check(f"{out} refused: " + r.stdout.strip()[:90],
              r.returncode == 1 and said in r.stdout and r.stdout.endswith("Nothing written. Exiting.\n") and
              open("results.h5", "rb").read() == bytes_before and left_beside(d, present) == [])

    # A file that is not HDF5 is no place for a median, in either form.
    with open("notes.h5", "w") as f:
        f.write("beam time notes\n")
    for out in ("notes.h5", "notes.h5::/median"):
        r = run("StackCollapse", "dark.h5", out)
        check(f"{out}: a file that is not HDF5 refused",
              r.returncode == 1 and "notes.h5 is not an HDF5 file" in r.stdout and
              open("notes.h5").read() == "beam time notes\n")
    present.append("notes.h5")

    # FILE alone replaces a file that holds nothing but earlier medians.
    run("StackCollapse", "dark.h5", "medians.h5::/a/median")
    run("StackCollapse", "dark2.h5", "medians.h5::/b/median")
    r = run("StackCollapse", "dark.h5", "medians.h5")
    check("a file of medians alone replaced whole by FILE alone",
          r.returncode == 0 and set(snapshot("medians.h5")) == {"/", "/entry", "/entry/data", "/entry/data/data"})
    present.append("medians.h5")
    # A median file of its own (its NeXus groups' attributes too) is
    # replaced whole again; an attribute the new file would not give again
    # the same is in the way.
    for attribute, value, replaced in (("default", "data", True), ("default", "results", False),
                                       ("title", "dark of run 7", False)):
        run("StackCollapse", "dark.h5", "medians.h5")
        with h5py.File("medians.h5", "a") as f:
            f["/entry"].attrs[attribute] = value
        before = open("medians.h5", "rb").read()
        r = run("StackCollapse", "dark2.h5", "medians.h5")
        with h5py.File("medians.h5") as f:
            frames = f["/entry/data/data"].attrs["frames"]
        check(f"a median file with /entry's {attribute}={value}: " + ("replaced" if replaced else "refused"),
              (r.returncode == 0 and frames == len(dark2)) if replaced else
              (r.returncode == 1 and "holds the attributes of the group /entry, which" in r.stdout and
               open("medians.h5", "rb").read() == before))

    # Through a symbolic link: the file it points to gets the dataset.
    os.symlink("results.h5", "link.h5")
    r = run("StackCollapse", "dark.h5", "link.h5::/through/link")
    check("through a symbolic link: the link kept, its file changed",
          r.returncode == 0 and os.path.islink("link.h5") and "/through/link" in snapshot("results.h5"))
    present.append("link.h5")

    # A full disk: the copy cannot be finished, or the dataset cannot be
    # added to it.  The file stays as it was, nothing is left beside it.
    one = make_stack("one.h5", 1, 256, 256, 3)  # its spill file fits the limits below
    present.append("one.h5")
    size = os.path.getsize("results.h5")
    bytes_before = open("results.h5", "rb").read()
    for limit, when in ((size // 2, "copying the file"), (size + 64 * 1024, "adding the dataset")):
        r = run("StackCollapse", "one.h5", "results.h5::/analysis/big_median", file_limit=limit)
        check(f"a full disk while {when}: refused, the file as it was: " + r.stdout.strip()[-90:],
              r.returncode == 1 and "Could not write results.h5" in r.stdout and
              open("results.h5", "rb").read() == bytes_before and left_beside(d, present) == [])

print(f"hdf5 into file: {0 if failures else 1} passed, {1 if failures else 0} failed")
sys.exit(1 if failures else 0)
