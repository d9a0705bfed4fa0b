#!/usr/bin/env bash
# The cluster recipes: hedm_share covers every range exactly once for many
# combinations, the README shows the same function, and the xargs -P recipe
# gives the same frame counts as a single ClipCount run.
#   tests/cluster_test.sh <build-dir> <source-dir>
set -euo pipefail
build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
. "$src/docs/cluster.sh"
fail=0

# Every number of the range exactly once, in order, over all shares.
for start in -7 0 1 5; do
  for len in 0 1 2 10 37; do
    for step in 1 3 7; do
      end=$(( start + len ))
      expect=$(seq "$start" "$step" "$end" | tr '\n' ' ')
      for n in 1 2 3 8 40; do
        got=$(for (( i = 0; i < n; i++ )); do hedm_share "$start" "$end" "$step" "$i" "$n"; done |
              while read -r s e; do seq "$s" "$step" "$e"; done | tr '\n' ' ')
        [ "$got" = "$expect" ] || { echo "hedm_share $start $end $step, $n tasks: '$got' != '$expect'"; fail=1; }
      done
    done
  done
done
# Start after end: nothing for anyone.
[ -z "$(hedm_share 5 4 1 0 1)" ] || { echo "hedm_share of an empty range printed something"; fail=1; }

# The README shows the function as it is in docs/cluster.sh.
while IFS= read -r line; do
  grep -qxF -- "$line" "$src/README.md" || { echo "README lacks: $line"; fail=1; }
done < <(sed -n '/^hedm_share() {/,/^}/p' "$src/docs/cluster.sh")

# The xargs -P recipe against one run, on generated frame files.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/make_sample_data" floats "$work/scan_" 1 7 raw 4
"$build/make_sample_data" stack "$work/dark.ge3" 3
"$build/PanelPack" "$work/scan_" 1 7 5 raw 1 >/dev/null || true
"$build/StackCollapse" "$work/dark.ge3" "$work/dark_median.ge3" >/dev/null
"$build/ClipCount" "$work" scan 5 1 7 .ge3 dark_median.ge3 14000 | grep '^Frame' >"$work/single.txt"
mkdir -p "$work/logs"
export PATH="$build:$PATH" work
n=3
for (( i = 0; i < n; i++ )); do hedm_share 1 7 1 "$i" "$n"; done |
  xargs -P 2 -L 1 sh -c 'ClipCount "$work" scan 5 "$0" "$1" .ge3 dark_median.ge3 14000 >"$work/logs/clipcount_$(printf %08d "$0").log"'
cat "$work"/logs/clipcount_*.log | grep '^Frame' >"$work/parallel.txt"
cmp -s "$work/single.txt" "$work/parallel.txt" || { echo "xargs recipe gives other counts"; diff "$work/single.txt" "$work/parallel.txt"; fail=1; }
[ "$(wc -l <"$work/single.txt")" -eq 7 ] || { echo "expected 7 frame lines"; fail=1; }

[ "$fail" -eq 0 ] && echo "cluster: 1 passed, 0 failed" || { echo "cluster: 0 passed, 1 failed"; exit 1; }
