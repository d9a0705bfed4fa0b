#!/usr/bin/env bash
# Text output at scale, each program side by side with its floor, the cost
# of writing the same number of bytes to the same file system (for
# GrainQuats, and reading its input too), in interleaved rounds (medians):
# BuildTriMesh at about 2, 8 and 32 million grid points, SolutionDump on a
# million-row result file, GrainQuats on a million-line grain list; peak
# memory of each; and "%f" three ways.
#   bench/near_field.sh [build-dir] [work-dir]
set -euo pipefail
build=${1:-build}
work=${2:-$(mktemp -d)}
cmake --build "$build" --target BuildTriMesh SolutionDump GrainQuats hedm-sample-data format_fixed6 >/dev/null
mkdir -p "$work"
echo "== format: fprintf, std::to_chars and the programs' formatter"
"$build/format_fixed6" 20000000
[ -f "$work/mic.bin" ] || "$build/hedm-sample-data" results "$work/mic.bin" 1000000 1
[ -f "$work/grains.txt" ] || "$build/hedm-sample-data" grains "$work/grains.txt" 1000000
printf 'PhaseNr 1\nNumPhases 1\nGlobalPosition 0\nMicFileBinary %s\nMicFileText %s\n' \
  "$work/mic.bin" "$work/mic.txt" >"$work/dump.params"
for r in 250 500 1000; do
  mkdir -p "$work/grid$r"
  printf 'GridSize 0.5\nRsample %s\nDataDirectory %s\n' "$r" "$work/grid$r" >"$work/grid$r.params"
done
python3 - "$build" "$work" <<'PY'
import os, statistics, subprocess, sys, time
build, work = sys.argv[1:3]

def timed(cmd):
    t = time.perf_counter()
    subprocess.run(cmd, shell=isinstance(cmd, str), stdout=subprocess.DEVNULL, check=False)
    return time.perf_counter() - t

def peak(cmd):
    r = subprocess.run(["/usr/bin/time", "-f", "%M", *cmd], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    return int(r.stderr.split()[-1]) / 1024

jobs = []
for r, label in ((250, "2 M points"), (500, "8 M points"), (1000, "32 M points")):
    jobs.append((f"BuildTriMesh, {label}", [f"{build}/BuildTriMesh", f"{work}/grid{r}.params"],
                 [f"{work}/grid{r}/grid.txt"], None))
jobs.append(("SolutionDump, 1 M rows", [f"{build}/SolutionDump", f"{work}/dump.params"],
             [f"{work}/mic.txt", f"{work}/mic.txt.AllMatches"], None))
jobs.append(("GrainQuats, 1 M lines", [f"{build}/GrainQuats", f"{work}/grains.txt", f"{work}/seeds.csv"],
             [f"{work}/seeds.csv"], f"{work}/grains.txt"))
for name, cmd, outputs, inp in jobs:
    subprocess.run(cmd, stdout=subprocess.DEVNULL)
    size = sum(os.path.getsize(o) for o in outputs)
    floor = f"head -c {size} /dev/zero > {work}/floor.out"
    if inp:
        floor = f"cat {inp} > /dev/null; " + floor
    a, b = [], []
    rounds = 3 if "32 M" in name else 5
    for i in range(rounds + 1):
        x = timed(cmd)
        y = timed(floor)
        if i:
            a.append(x); b.append(y)
    p, f = statistics.median(a), statistics.median(b)
    print(f"{name:<26} {size/1e6:7.0f} MB  program {p:6.2f} s  floor {f:6.2f} s  "
          f"program/floor {p/f:5.2f}  peak {peak(cmd):6.1f} MiB", flush=True)
    os.remove(f"{work}/floor.out")
PY
