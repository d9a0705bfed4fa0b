#!/usr/bin/env bash
# The 16-bit selection of the coded selection's exception pixels, on stacks
# in memory whose pixels are nearly all exceptions (bench/exception_median.cpp),
# for one build or two side by side: instructions of the whole median and
# of StackMedian::collapse (the exceptions' selection) under callgrind, then
# the median wall time of interleaved runs on one thread.
#   bench/exception_median.sh <build> [other-build]
set -euo pipefail
builds=("$@")
for b in "${builds[@]}"; do cmake --build "$b" --target exception_median >/dev/null; done
out=$(mktemp -d)
cases=("400 32768 300" "1440 16384 300" "250 32768 150" "1440 16384 2000")
for c in "${cases[@]}"; do
  for b in "${builds[@]}"; do
    valgrind --tool=callgrind --callgrind-out-file="$out/cg" --toggle-collect='*median_of_stack*' \
      "$b/exception_median" $c 1 >"$out/log" 2>/dev/null
    total=$(grep -E '^(summary|totals):' "$out/cg" | head -1 | awk '{print $2}')
    sixteen=$(callgrind_annotate --inclusive=yes "$out/cg" 2>/dev/null | grep 'StackMedian::collapse' | head -1 | awk '{print $1}')
    printf '%-18s %-24s %s; instructions: all %s, exceptions %s\n' "$c" "$b" "$(head -1 "$out/log")" "$total" "$sixteen"
  done
done
for c in "1440 65536 300" "400 131072 300"; do
  for round in 1 2 3; do
    for b in "${builds[@]}"; do
      printf '%-24s %s\n' "$b" "$(taskset -c 0 "$b/exception_median" $c 11 | tail -1)"
    done
  done
done
rm -r "$out"
