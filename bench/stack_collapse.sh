#!/usr/bin/env bash
# StackCollapse against `cat` of the same file, warm from the page cache, at
# six stack depths, dark-like (noise about fixed levels, a few hot pixels)
# and data-like (diffraction spots lighting up for a few frames): medians of
# interleaved rounds of cat, StackCollapse on every processor it may use
# ("both cores" on a 2-core machine) and StackCollapse under `taskset -c 0`
# (one thread), with the straightforward per-pixel quick_select median
# beside it up to 100 frames, outputs compared (deeper ones with numpy's
# lower median, through /usr/bin/python3 and bench/numpy_median.py, made
# once and kept), and the peak of anonymous memory (RssAnon in
# /proc/PID/status, sampled every 2 ms; the input is read with pread, so
# that is nearly all of the peak resident size, which
# ../shared/bench/stack-vs-cat.sh reports as ru_maxrss).  Each timed run writes a new output; up to
# 100 frames a second run over that output is timed too, as replacing a
# file costs an ext4 flush of the new one.  With "cold" as the third
# argument the 1440-frame files are also measured from disk: the page cache
# is dropped before every run (as root; else the file alone is evicted).
#   bench/stack_collapse.sh [build-dir] [work-dir] [cold]
# The files take 2 x 16.6 GB of disk; each depth's files are made when
# missing and kept for the next run.
set -euo pipefail
build=${1:-build}
work=${2:-$(mktemp -d)}
cold=${3:-}
cmake --build "$build" --target StackCollapse median_baseline hedm-sample-data >/dev/null
mkdir -p "$work"
uptime
python3 - "$build" "$work" "$cold" "$(dirname "$0")" <<'PY'
import os, statistics, subprocess, sys, time
build, work, cold, bench = sys.argv[1:5]
depths = [3, 10, 25, 100, 400, 1440]
sc = f"{build}/StackCollapse"
programs = {"both": [sc], "one": ["taskset", "-c", "0", sc]}

def timed(cmd):
    t = time.perf_counter()
    subprocess.run(cmd, stdout=subprocess.DEVNULL, check=True)
    return time.perf_counter() - t

def peak_anon_kib(cmd):
    p = subprocess.Popen(cmd, stdout=subprocess.DEVNULL)
    peak = 0
    while p.poll() is None:
        try:
            with open(f"/proc/{p.pid}/status") as f:
                for line in f:
                    if line.startswith("RssAnon:"):
                        peak = max(peak, int(line.split()[1]))
        except (FileNotFoundError, ProcessLookupError):
            pass
        time.sleep(0.002)
    if p.returncode:
        raise SystemExit(f"{cmd} failed")
    return peak

def rounds(n):
    return 11 if n <= 25 else 7 if n <= 100 else 5 if n <= 400 else 3

rows = []
for kind, gen in (("dark-like", "stack"), ("data-like", "scan")):
    for n in depths:
        path = os.path.join(work, f"{gen}{n}.ge3")
        if not os.path.exists(path):
            subprocess.run([f"{build}/hedm-sample-data", gen, path, str(n)], check=True)
        out = os.path.join(work, f"median_{gen}{n}.ge3")
        subprocess.run(["cat", path], stdout=subprocess.DEVNULL, check=True)  # into the page cache
        t = {"cat": [], "both": [], "one": [], "again": []}
        for r in range(rounds(n) + 1):
            a = timed(["cat", path])
            got = {}
            for name, cmd in programs.items():
                if os.path.exists(out):
                    os.remove(out)  # a first run: no earlier output to replace
                got[name] = timed(cmd + [path, out])
            # Up to 100 frames, also a run over the output just written:
            # replacing a file makes ext4 flush the new one first.
            c = timed([sc, path, out]) if n <= 100 else 0
            if r:  # round 0 warms up
                t["cat"].append(a); t["both"].append(got["both"]); t["one"].append(got["one"]); t["again"].append(c)
        m = {k: statistics.median(v) for k, v in t.items()}
        if n <= 100:
            ref = os.path.join(work, f"baseline_{gen}{n}.ge3")
            tb = timed([f"{build}/median_baseline", path, ref])
            same = open(ref, "rb").read() == open(out, "rb").read()
            check = f"baseline {tb / m['both']:5.1f}x slower, {'same' if same else 'DIFFERENT'}; over an earlier output {m['again']/m['cat']:4.2f}"
        else:
            ref = os.path.join(work, f"numpy_{gen}{n}.ge3")
            if not os.path.exists(ref):
                subprocess.run(["/usr/bin/python3", os.path.join(bench, "numpy_median.py"), path, ref], check=True)
            same = open(ref, "rb").read() == open(out, "rb").read()
            check = f"numpy's lower median: {'same' if same else 'DIFFERENT'}"
        anon = {name: peak_anon_kib(cmd + [path, out]) for name, cmd in programs.items()}
        rows.append((kind, n, m, anon))
        print(f"{kind:9} {n:5} frames: cat {m['cat']*1e3:7.1f} ms  both cores {m['both']*1e3:7.1f} ms "
              f"({m['both']/m['cat']:4.2f})  one core {m['one']*1e3:7.1f} ms ({m['one']/m['cat']:4.2f})  "
              f"RssAnon {anon['both']/1024:4.1f} / {anon['one']/1024:4.1f} MiB  {check}", flush=True)
        if n == 1440 and cold:
            def evict():
                try:
                    subprocess.run(["sync"], check=True)
                    with open("/proc/sys/vm/drop_caches", "w") as f:
                        f.write("3\n")
                except OSError:
                    subprocess.run(["dd", f"if={path}", "iflag=nocache", "count=0"], stderr=subprocess.DEVNULL, check=True)
                res = subprocess.run(["fincore", "-n", "-o", "RES", path], capture_output=True, text=True).stdout.strip()
                if res not in ("0", "0B"):
                    print(f"  still resident after eviction: {res}")
            ct = {"cat": [], "both": [], "one": []}
            for r in range(2):
                evict(); ct["cat"].append(timed(["cat", path]))
                for name, cmd in programs.items():
                    evict(); ct[name].append(timed(cmd + [path, out]))
            cm = {k: statistics.median(v) for k, v in ct.items()}
            print(f"{kind:9} {n:5} frames, cold: cat {cm['cat']:6.2f} s  both cores {cm['both']:6.2f} s "
                  f"({cm['both']/cm['cat']:4.2f})  one core {cm['one']:6.2f} s ({cm['one']/cm['cat']:4.2f})", flush=True)

print()
print("| frames | " + " | ".join(str(n) for n in depths) + " |")
print("|---|" + "---|" * len(depths))
for kind in ("dark-like", "data-like"):
    for name, label in (("both", "both cores"), ("one", "one core")):
        cells = [f"{m[name]/m['cat']:.2f}" for k, n, m, a in rows if k == kind]
        print(f"| {kind}, {label} / cat | " + " | ".join(cells) + " |")
for kind in ("dark-like", "data-like"):
    cells = [f"{a['both']/1024:.0f} / {a['one']/1024:.0f}" for k, n, m, a in rows if k == kind]
    print(f"| {kind}, RssAnon MiB (both / one) | " + " | ".join(cells) + " |")
PY
