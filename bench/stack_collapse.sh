#!/usr/bin/env bash
# StackCollapse against `cat` of the same file, warm from the page cache, at
# six stack depths, dark-like (noise about fixed levels, a few hot pixels)
# and data-like (diffraction spots lighting up for a few frames): medians of
# interleaved rounds, with the straightforward per-pixel quick_select median
# beside it up to 100 frames, outputs compared (deeper ones with numpy's
# lower median, through /usr/bin/python3 and bench/numpy_median.py, made
# once and kept), and peak resident memory.  Each timed run writes a new
# output; up to 100 frames a second run over that output is timed too, as
# replacing a file costs an ext4 flush of the new one.  With "cold" as the
# third argument the 1440-frame files are also measured from disk (evicted
# from the page cache before every run).
#   bench/stack_collapse.sh [build-dir] [work-dir] [cold]
# The files take 2 x 16.6 GB of disk; each depth's files are made when
# missing and kept for the next run.
set -euo pipefail
build=${1:-build}
work=${2:-$(mktemp -d)}
cold=${3:-}
cmake --build "$build" --target StackCollapse median_baseline hedm-sample-data >/dev/null
mkdir -p "$work"
python3 - "$build" "$work" "$cold" "$(dirname "$0")" <<'PY'
import os, resource, statistics, subprocess, sys, time
build, work, cold, bench = sys.argv[1:5]
depths = [3, 10, 25, 100, 400, 1440]

def timed(cmd):
    t = time.perf_counter()
    subprocess.run(cmd, stdout=subprocess.DEVNULL, check=True)
    return time.perf_counter() - t

def rounds(n):
    return 11 if n <= 25 else 7 if n <= 100 else 5 if n <= 400 else 3

def peak_kib(cmd):
    before = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    subprocess.run(cmd, stdout=subprocess.DEVNULL, check=True)
    return resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss  # the largest child so far

rows = []
for kind, gen in (("dark-like", "stack"), ("data-like", "scan")):
    for n in depths:
        path = os.path.join(work, f"{gen}{n}.ge3")
        if not os.path.exists(path):
            subprocess.run([f"{build}/hedm-sample-data", gen, path, str(n)], check=True)
        out = os.path.join(work, f"median_{gen}{n}.ge3")
        subprocess.run(["cat", path], stdout=subprocess.DEVNULL, check=True)  # into the page cache
        cat, sc, again = [], [], []
        for r in range(rounds(n) + 1):
            a = timed(["cat", path])
            if os.path.exists(out):
                os.remove(out)  # a first run: no earlier output to replace
            b = timed([f"{build}/StackCollapse", path, out])
            # Up to 100 frames, also a run over the output just written:
            # replacing a file makes ext4 flush the new one first.
            c = timed([f"{build}/StackCollapse", path, out]) if n <= 100 else 0
            if r:  # round 0 warms up
                cat.append(a); sc.append(b); again.append(c)
        c, s, s2 = statistics.median(cat), statistics.median(sc), statistics.median(again)
        base = ""
        if n <= 100:
            ref = os.path.join(work, f"baseline_{gen}{n}.ge3")
            t = timed([f"{build}/median_baseline", path, ref])
            same = open(ref, "rb").read() == open(out, "rb").read()
            base = f"baseline {t / s:5.1f}x slower, {'same' if same else 'DIFFERENT'}; over an earlier output {s2/c:4.2f}"
        else:
            ref = os.path.join(work, f"numpy_{gen}{n}.ge3")
            if not os.path.exists(ref):
                subprocess.run(["/usr/bin/python3", os.path.join(bench, "numpy_median.py"), path, ref], check=True)
            same = open(ref, "rb").read() == open(out, "rb").read()
            base = f"numpy's lower median: {'same' if same else 'DIFFERENT'}"
        rss = subprocess.run(["/usr/bin/time", "-f", "%M", f"{build}/StackCollapse", path, out],
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True).stderr.split()[-1]
        rows.append((kind, n, c, s, base, int(rss)))
        print(f"{kind:9} {n:5} frames: cat {c*1e3:8.1f} ms  StackCollapse {s*1e3:8.1f} ms  "
              f"ratio {s/c:4.2f}  peak {int(rss)/1024:5.1f} MiB  {base}", flush=True)
        if n == 1440 and cold:
            def evict():
                subprocess.run(["dd", f"if={path}", "iflag=nocache", "count=0"], stderr=subprocess.DEVNULL, check=True)
                res = subprocess.run(["fincore", "-n", "-o", "RES", path], capture_output=True, text=True).stdout.strip()
                if res not in ("0", "0B"):
                    print(f"  still resident after eviction: {res}")
            cc, cs = [], []
            for r in range(2):
                evict(); cc.append(timed(["cat", path]))
                evict(); cs.append(timed([f"{build}/StackCollapse", path, out]))
            c2, s2 = statistics.median(cc), statistics.median(cs)
            print(f"{kind:9} {n:5} frames, cold: cat {c2:6.2f} s  StackCollapse {s2:6.2f} s  ratio {s2/c2:4.2f}", flush=True)

print()
print("| frames | " + " | ".join(str(n) for n in depths) + " |")
print("|---|" + "---|" * len(depths))
for kind in ("dark-like", "data-like"):
    cells = [f"{s/c:.2f}" for k, n, c, s, b, r in rows if k == kind]
    print(f"| {kind}, StackCollapse / cat | " + " | ".join(cells) + " |")
for kind in ("dark-like", "data-like"):
    cells = [f"{r/1024:.0f}" for k, n, c, s, b, r in rows if k == kind]
    print(f"| {kind}, peak MiB | " + " | ".join(cells) + " |")
PY
