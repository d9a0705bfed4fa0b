#!/usr/bin/env bash
# Text output at scale: BuildTriMesh on GridSize 0.5 / Rsample 1000 (about 32
# million grid points), SolutionDump on a million-row result file, GrainQuats
# on a million-line grain list, and "%f" through fprintf against the
# formatting the programs use.
#   bench/near_field.sh [build-dir] [work-dir]
set -euo pipefail
build=${1:-build}
work=${2:-$(mktemp -d)}
cmake --build "$build" >/dev/null
mkdir -p "$work"

rate() {  # bytes seconds
  python3 -c "print(f'{$1/1e6:.0f} MB in {$2:.2f} s: {$1/1e6/$2:.0f} MB/s')"
}
timed() {  # command...; prints wall seconds and peak memory, keeps the output quiet
  /usr/bin/time -f "%e %M" -o "$work/time.txt" "$@" >"$work/stdout.txt"
  read -r secs kib <"$work/time.txt"
}

echo "== format: fprintf against the programs' formatting"
"$build/format_fixed6" 20000000

echo "== BuildTriMesh, GridSize 0.5, Rsample 1000"
printf 'GridSize 0.5\nRsample 1000\nDataDirectory %s\n' "$work" >"$work/grid.params"
timed "$build/BuildTriMesh" "$work/grid.params"
head -1 "$work/stdout.txt"
echo "grid.txt: $(rate "$(stat -c %s "$work/grid.txt")" "$secs"), peak memory $((kib / 1024)) MiB"
rm -f "$work/grid.txt"

echo "== SolutionDump, a million rows"
[ -f "$work/mic.bin" ] || "$build/hedm-sample-data" results "$work/mic.bin" 1000000 1
printf 'PhaseNr 1\nNumPhases 1\nGlobalPosition 0\nMicFileBinary %s\nMicFileText %s\n' \
  "$work/mic.bin" "$work/mic.txt" >"$work/dump.params"
timed "$build/SolutionDump" "$work/dump.params"
bytes=$(( $(stat -c %s "$work/mic.txt") + $(stat -c %s "$work/mic.txt.AllMatches") ))
echo "both tables: $(rate "$bytes" "$secs"), peak memory $((kib / 1024)) MiB"

echo "== GrainQuats, a million grain lines"
[ -f "$work/grains.txt" ] || "$build/hedm-sample-data" grains "$work/grains.txt" 1000000
timed "$build/GrainQuats" "$work/grains.txt" "$work/seeds.csv"
python3 -c "print(f'{1e6/$secs:.0f} lines/s ({$secs:.2f} s), peak memory $((kib / 1024)) MiB')"
