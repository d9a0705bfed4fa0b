#!/usr/bin/env bash
# Every program of two builds side by side in one run, on the same generated
# inputs, the two runs of each round back to back in alternating order (medians
# of wall time): a before/after check that a change costs nothing.
# With "fresh" as the fourth argument the outputs are removed (and the page
# cache's dirty data written) before every run, so each run writes new files
# instead of replacing the previous run's.
#   bench/compare_builds.sh <before-build> <after-build> [work-dir] [fresh]
set -euo pipefail
old=$(cd "$1" && pwd)
new=$(cd "$2" && pwd)
work=${3:-$(mktemp -d)}
fresh=${4:-}
mkdir -p "$work"
gen="$new/hedm-sample-data"
[ -f "$work/stack.ge3" ] || "$gen" stack "$work/stack.ge3" 100
[ -f "$work/img_00020.raw" ] || "$gen" floats "$work/img_" 1 20 raw
[ -f "$work/dark.ge3" ] || { "$gen" stack "$work/dark.ge3" 1; for i in $(seq 1 30); do "$gen" stack "$(printf "$work/scan_%05d.ge3" "$i")" 1 "$i"; done; }
[ -f "$work/mic.bin" ] || "$gen" results "$work/mic.bin" 1000000 1
[ -f "$work/grains.txt" ] || "$gen" grains "$work/grains.txt" 1000000
printf 'GridSize 0.5\nRsample 500\nDataDirectory %s\n' "$work" >"$work/grid.params"
printf 'PhaseNr 1\nNumPhases 1\nGlobalPosition 0\nMicFileBinary %s\nMicFileText %s\n' \
  "$work/mic.bin" "$work/mic.txt" >"$work/dump.params"

compare() {  # name, rounds, command line with BIN for the build's folder
  python3 - "$1" "$2" "$fresh" "$work" "${3//BIN/$old}" "${3//BIN/$new}" <<'PY'
import glob, os, statistics, subprocess, sys, time
name, rounds, fresh, work, cmds = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5:]
outputs = ["median.ge3", "img_*.ge3", "grid.txt", "mic.txt", "mic.txt.AllMatches", "seeds.csv"]
times = [[], []]
for r in range(rounds + 1):  # interleaved, the order alternating; round 0 warms up
    for i in ((0, 1) if r % 2 else (1, 0)):
        if fresh:
            for pattern in outputs:
                for f in glob.glob(os.path.join(work, pattern)):
                    os.remove(f)
            os.sync()
        t = time.perf_counter()
        subprocess.run(cmds[i].split(), stdout=subprocess.DEVNULL)
        if r: times[i].append(time.perf_counter() - t)
a, b = statistics.median(times[0]), statistics.median(times[1])
print(f"{name:<30} before {a*1e3:8.1f} ms  after {b*1e3:8.1f} ms  after/before {b/a:.3f}")
PY
}
compare "StackCollapse, 100 frames" 21 "BIN/StackCollapse $work/stack.ge3 $work/median.ge3"
compare "PanelPack, 20 images" 21 "BIN/PanelPack $work/img_ 1 20 5 raw 1"
compare "ClipCount, 30 files" 21 "BIN/ClipCount $work scan 5 1 30 .ge3 dark.ge3 2000"
compare "BuildTriMesh, 8 M points" 9 "BIN/BuildTriMesh $work/grid.params"
compare "SolutionDump, 1 M rows" 9 "BIN/SolutionDump $work/dump.params"
compare "GrainQuats, 1 M lines" 9 "BIN/GrainQuats $work/grains.txt $work/seeds.csv"
