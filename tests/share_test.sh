#!/usr/bin/env bash
# hedm-share: every number of a range in exactly one share, in order, for
# many combinations; the one-task and all-tasks forms agree; bad arguments
# are refused.
#   tests/share_test.sh <build-dir>
set -euo pipefail
share="$(cd "$1" && pwd)/hedm-share"
fail=0

for start in -7 0 1 5; do
  for len in 0 1 2 10 37; do
    for step in 1 3 7; do
      end=$(( start + len ))
      expect=$(seq "$start" "$step" "$end" | tr '\n' ' ')
      for n in 1 2 3 8 40; do
        got=$("$share" "$start" "$end" "$step" "$n" | while read -r s e; do seq "$s" "$step" "$e"; done | tr '\n' ' ')
        [ "$got" = "$expect" ] || { echo "hedm-share $start $end $step $n: '$got' != '$expect'"; fail=1; }
        [ "$n" -le 8 ] || continue  # task by task: a process each
        each=$(for (( i = 0; i < n; i++ )); do "$share" "$start" "$end" "$step" "$i" "$n"; done)
        [ "$each" = "$("$share" "$start" "$end" "$step" "$n")" ] || { echo "task by task differs: $start $end $step $n"; fail=1; }
      done
    done
  done
done
[ -z "$("$share" 5 4 1 0 1)" ] || { echo "an empty range printed something"; fail=1; }
for bad in "1 10 0 2" "1 10 1 0" "1 10 1 2 2" "1 x 1 2" "1 10 1"; do
  # shellcheck disable=SC2086
  if "$share" $bad >/dev/null; then echo "hedm-share $bad was accepted"; fail=1; fi
done
[ "$fail" -eq 0 ] && echo "share: 1 passed, 0 failed" || { echo "share: 0 passed, 1 failed"; exit 1; }
