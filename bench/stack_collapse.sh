#!/usr/bin/env bash
# StackCollapse against `cat` of the same file and against the straightforward
# per-pixel quick_select median, side by side in one run, on a 100-frame and a
# 10-frame dark-like stack read from the page cache.
#   bench/stack_collapse.sh [build-dir] [work-dir]
set -euo pipefail
build=${1:-build}
work=${2:-$(mktemp -d)}
command -v hyperfine >/dev/null || { apt-get update -qq && apt-get install -y -qq hyperfine; }
cmake --build "$build" --target StackCollapse median_baseline make_sample_data >/dev/null
mkdir -p "$work"
for n in 100 10; do
  [ -f "$work/stack$n.ge3" ] || "$build/make_sample_data" stack "$work/stack$n.ge3" "$n"
done
cat "$work"/stack*.ge3 >/dev/null  # into the page cache

for n in 100 10; do
  in="$work/stack$n.ge3"
  echo "== $n frames ($(stat -c %s "$in") bytes)"
  hyperfine -N -w 3 -r 15 --export-json "$work/sc$n.json" \
    "cat $in" "$build/StackCollapse $in $work/median$n.ge3" | grep -E 'Benchmark|Time'
  hyperfine -N -w 1 -r 3 --export-json "$work/base$n.json" \
    "$build/median_baseline $in $work/baseline$n.ge3" | grep -E 'Benchmark|Time'
  cmp "$work/median$n.ge3" "$work/baseline$n.ge3" && echo "outputs identical"
  python3 - "$work/sc$n.json" "$work/base$n.json" <<'PY'
import json, sys
a = json.load(open(sys.argv[1]))["results"]; b = json.load(open(sys.argv[2]))["results"]
cat, sc, base = a[0]["median"], a[1]["median"], b[0]["median"]
print(f"medians: cat {cat*1e3:.1f} ms, StackCollapse {sc*1e3:.1f} ms, baseline {base*1e3:.0f} ms")
print(f"StackCollapse / cat = {sc/cat:.2f}x; baseline / StackCollapse = {base/sc:.1f}x")
PY
  for prog in "$build/StackCollapse" "$build/median_baseline"; do
    /usr/bin/time -f "peak memory $(basename "$prog"): %M KiB" "$prog" "$in" "$work/mem.ge3" >/dev/null
  done
done
