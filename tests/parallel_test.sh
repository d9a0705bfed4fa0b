#!/usr/bin/env bash
# The README's one-machine recipes, GNU parallel and xargs -P, copied from the
# README and run as written (the range cut to 12 images) from a data folder
# with the build's commands on PATH: the same frame files and counts as one
# run; with one image missing, the pipeline fails; the image restored, the
# recipe run again with --resume finishes the run (the shares that completed
# are not run again) and its merged counts equal one run's; logs of a second
# run with other shares in the same folder are refused by the merge.
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

(cd "$work/data" && bash -c "$recipe") >"$work/out.txt" 2>&1 || { echo "the $engine recipe failed:"; cat "$work/out.txt"; fail=1; }
for f in "$work"/single/scan_*.ge3; do
  cmp -s "$f" "$work/data/$(basename "$f")" || { echo "differs: $(basename "$f")"; fail=1; }
done
sed "s|$work/data|DATA|" "$work/data/counts.txt" | cmp -s - "$work/single.txt" || { echo "counts differ from one run"; fail=1; }
[ "$(grep -c '^Frame' "$work/single.txt")" -eq 12 ] || { echo "expected 12 frame lines"; fail=1; }

rm "$work/broken/scan_00006.raw"
if (cd "$work/broken" && bash -c "$recipe") >"$work/broken.txt" 2>&1; then
  echo "the $engine recipe succeeded with an image missing"; fail=1
fi
grep -q "FAILED: PanelPack: Could not read $work/broken/scan_00006.raw\. Nothing" "$work/broken.txt" || { echo "no FAILED line for the missing image:"; cat "$work/broken.txt"; fail=1; }

cp "$work/single/scan_00006.raw" "$work/broken/"
(cd "$work/broken" && bash -c "$recipe" far_field.sh --resume) >"$work/resumed.txt" 2>&1 || { echo "the $engine recipe with --resume failed:"; cat "$work/resumed.txt"; fail=1; }
sed "s|$work/broken|DATA|" "$work/broken/counts.txt" | cmp -s - "$work/single.txt" || { echo "resumed counts differ from one run"; fail=1; }
# xargs ran every share the first time, so only the failed one runs again.
if [ "$engine" = xargs ] && [ "$(grep -c 'COMPLETED earlier' "$work/resumed.txt")" -ne 4 ]; then
  echo "--resume ran completed shares again:"; cat "$work/resumed.txt"; fail=1
fi

if [ "$engine" = xargs ]; then
  # Logs of another cut of the same range in the same folder: refused.
  (cd "$work/data" && hedm-far-field-share "$work/data" scan 2 4 dark_median.ge3 14000 >/dev/null)
  if (cd "$work/data" && hedm-merge-counts logs >"$work/mixed.txt" 2>"$work/mixed.err"); then
    echo "the merge took logs of two runs"; fail=1
  fi
  grep -q "clipcount_00000002.log (numbers 2 to 4) overlaps logs/clipcount_00000001.log (numbers 1 to 3)" "$work/mixed.err" &&
    [ ! -s "$work/mixed.txt" ] || { echo "the merge of two runs said:"; cat "$work/mixed.err"; fail=1; }
fi

[ "$fail" -eq 0 ] && echo "$engine: 1 passed, 0 failed" || { echo "$engine: 0 passed, 1 failed"; exit 1; }
