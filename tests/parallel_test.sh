#!/usr/bin/env bash
# The README's one-machine recipes, GNU parallel and xargs -P, copied from the
# README and run as written (the range cut to 12 images) from a data folder
# with the build's commands on PATH: the same frame files and counts as one
# run; a second run keeps its logs in a folder of its own, the first run's
# left byte for byte; with one image missing, the pipeline fails, the
# status names the failed share and an earlier counts.txt stays; the image
# restored, the recipe run again with --resume finishes the same run (the
# shares that completed are not run again), its merged counts equal one
# run's and the status shows no failure any more.  With xargs also: logs of
# another cut of the range in a run's folder are refused by the merge, and
# counts.txt stays as it was; a share killed while it runs is "running",
# then "started, never ended".
#   tests/parallel_test.sh <build-dir> <source-dir> parallel|xargs
set -euo pipefail
build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
engine=$3
[ "$engine" != parallel ] || command -v parallel >/dev/null || { echo "GNU parallel is missing (apt-get install parallel)"; exit 1; }
recipe=$(sed -n "/^<!-- recipe: $engine -->/,/^\`\`\`\$/p" "$src/README.md" | sed -e '1,2d' -e '$d' | sed 's/ 1 1600 1 8 / 1 12 1 5 /')
[ -n "$recipe" ] || { echo "no $engine recipe in README.md"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export PATH="$build:$PATH"
fail=0

mkdir -p "$work/single" "$work/data" "$work/broken"
"$build/hedm-sample-data" floats "$work/single/scan_" 1 12 raw 4 >/dev/null
"$build/hedm-sample-data" stack "$work/single/dark.ge3" 3 >/dev/null
StackCollapse "$work/single/dark.ge3" "$work/single/dark_median.ge3" >/dev/null
cp "$work"/single/*.raw "$work/single/dark_median.ge3" "$work/data/"
cp "$work"/single/*.raw "$work/single/dark_median.ge3" "$work/broken/"
PanelPack "$work/single/scan_" 1 12 5 raw 1 >/dev/null || true
ClipCount "$work/single" scan 5 1 12 .ge3 dark_median.ge3 14000 | sed -e '1d' -e '$d' -e "s|$work/single|DATA|" >"$work/single.txt"

sums() { (cd "$1" && find . -type f -exec sha256sum {} + | sort -k 2); }
(cd "$work/data" && bash -c "$recipe") >"$work/out.txt" 2>&1 || { echo "the $engine recipe failed:"; cat "$work/out.txt"; fail=1; }
for f in "$work"/single/scan_*.ge3; do
  cmp -s "$f" "$work/data/$(basename "$f")" || { echo "differs: $(basename "$f")"; fail=1; }
done
sed "s|$work/data|DATA|" "$work/data/counts.txt" | cmp -s - "$work/single.txt" || { echo "counts differ from one run"; fail=1; }
[ "$(grep -c '^Frame' "$work/single.txt")" -eq 12 ] || { echo "expected 12 frame lines"; fail=1; }

# A second run in the same folder: logs of its own; the first run's stay.
first_logs=$(sums "$work/data/logs/run_0001")
(cd "$work/data" && bash -c "$recipe") >"$work/out2.txt" 2>&1 || { echo "the second $engine run failed:"; cat "$work/out2.txt"; fail=1; }
[ -d "$work/data/logs/run_0002" ] && [ "$(sums "$work/data/logs/run_0001")" = "$first_logs" ] ||
  { echo "the second run did not keep its logs apart from the first's:"; ls -R "$work/data/logs"; fail=1; }
(cd "$work/data" && hedm-merge-counts logs/run_0001 2>/dev/null) | sed "s|$work/data|DATA|" | cmp -s - "$work/single.txt" ||
  { echo "the first run's logs no longer merge to its counts"; fail=1; }

rm "$work/broken/scan_00006.raw"
echo "counts of an earlier run" >"$work/broken/counts.txt"
if (cd "$work/broken" && bash -c "$recipe") >"$work/broken.txt" 2>&1; then
  echo "the $engine recipe succeeded with an image missing"; fail=1
fi
grep -q "FAILED: PanelPack: Could not read $work/broken/scan_00006.raw\. Nothing" "$work/broken.txt" || { echo "no FAILED line for the missing image:"; cat "$work/broken.txt"; fail=1; }
if (cd "$work/broken" && hedm-far-field-status) >"$work/status.txt"; then echo "the status of a failed run is 0"; fail=1; fi
grep -q "^share 4 to 6: FAILED: PanelPack: Could not read $work/broken/scan_00006.raw" "$work/status.txt" ||
  { echo "the status does not name the failed share:"; cat "$work/status.txt"; fail=1; }
[ "$(cat "$work/broken/counts.txt")" = "counts of an earlier run" ] || { echo "the failed run touched counts.txt"; fail=1; }

cp "$work/single/scan_00006.raw" "$work/broken/"
(cd "$work/broken" && bash -c "$recipe" far_field.sh --resume) >"$work/resumed.txt" 2>&1 || { echo "the $engine recipe with --resume failed:"; cat "$work/resumed.txt"; fail=1; }
sed "s|$work/broken|DATA|" "$work/broken/counts.txt" | cmp -s - "$work/single.txt" || { echo "resumed counts differ from one run"; fail=1; }
[ ! -e "$work/broken/logs/run_0002" ] || { echo "--resume made a new run folder"; fail=1; }
# xargs ran every share the first time, so only the failed one runs again.
if [ "$engine" = xargs ] && [ "$(grep -c 'COMPLETED earlier' "$work/resumed.txt")" -ne 4 ]; then
  echo "--resume ran completed shares again:"; cat "$work/resumed.txt"; fail=1
fi
(cd "$work/broken" && hedm-far-field-status) >"$work/status.txt" && ! grep -q FAILED "$work/status.txt" &&
  grep -q "^All 5 shares completed" "$work/status.txt" || { echo "the status after the resume:"; cat "$work/status.txt"; fail=1; }

if [ "$engine" = xargs ]; then
  # Logs of another cut of the same range in a run's folder: refused, and
  # counts.txt stays as it was.
  before=$(sha256sum <"$work/data/counts.txt")
  (cd "$work/data" && hedm-far-field-share "$work/data" scan 2 4 dark_median.ge3 14000 logs/run_0002 >/dev/null)
  if (cd "$work/data" && hedm-merge-counts -o counts.txt >"$work/mixed.txt" 2>"$work/mixed.err"); then
    echo "the merge took logs of two runs"; fail=1
  fi
  grep -q "clipcount_00000002.log (numbers 2 to 4) overlaps logs/run_0002/clipcount_00000001.log (numbers 1 to 3)" "$work/mixed.err" &&
    [ ! -s "$work/mixed.txt" ] && [ "$(sha256sum <"$work/data/counts.txt")" = "$before" ] ||
    { echo "the merge of two runs said:"; cat "$work/mixed.err"; fail=1; }

  # A share killed while it runs (PanelPack waits on an image that is a
  # pipe no one writes): "running" while it runs, then named as never ended.
  mkdir -p "$work/kill"
  cp "$work/single/dark_median.ge3" "$work/kill/"
  mkfifo "$work/kill/scan_00001.raw"
  (cd "$work/kill" && exec setsid hedm-far-field-share "$work/kill" scan 1 2 dark_median.ge3 14000 logs/run_0001 >/dev/null) &
  share=$!
  for i in $(seq 100); do grep -q '^state: STARTED' "$work/kill/logs/run_0001/share_00000001.txt" 2>/dev/null && break; sleep 0.1; done
  (cd "$work/kill" && hedm-far-field-status) >"$work/status.txt" || true
  grep -q "^share 1 to 2: running since " "$work/status.txt" || { echo "a running share:"; cat "$work/status.txt"; fail=1; }
  kill -KILL -- "-$share"
  wait "$share" 2>/dev/null || true
  rm "$work/kill/scan_00001.raw"
  (cd "$work/kill" && hedm-far-field-status) >"$work/status.txt" || true
  grep -qx "share 1 to 2: started, never ended: cancelled, killed, out of time or its node lost" "$work/status.txt" ||
    { echo "a killed share:"; cat "$work/status.txt"; fail=1; }
  (cd "$work/kill" && hedm-merge-counts) 2>"$work/merge.err" >/dev/null || true
  grep -qx "share 1 to 2: no counts: started, never ended: cancelled, killed, out of time or its node lost" "$work/merge.err" ||
    { echo "the merge of a killed share:"; cat "$work/merge.err"; fail=1; }
fi

[ "$fail" -eq 0 ] && echo "$engine: 1 passed, 0 failed" || { echo "$engine: 0 passed, 1 failed"; exit 1; }
