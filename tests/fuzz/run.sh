#!/usr/bin/env bash
# Runs each fuzz target with libFuzzer (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) for a bounded time, then merges what it found
# into the small committed corpus that the normal tests replay.
#   tests/fuzz/run.sh [seconds per target] [target...]
set -euo pipefail
seconds=${1:-60}
shift || true
targets=${*:-param_line grain_line frame_size fixed6}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
if ! command -v clang++ >/dev/null || ! echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' |
    clang++ -x c++ -fsanitize=fuzzer - -o /dev/null 2>/dev/null; then
  echo "libFuzzer is missing: apt-get install clang libclang-rt-14-dev"
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
flags="-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I$root/common -I$root/NF_HEDM/src"
common=$(ls "$root"/common/*.cpp | grep -v command_line.cpp | tr "\n" " ")
common="$common $root/common/command_line.cpp -DHEDM_VERSION=\"fuzz\""
for target in $targets; do
  extra=""
  [ "$target" = grain_line ] && extra="$root/NF_HEDM/src/quaternion.cpp $root/NF_HEDM/src/grain_line.cpp"
  clang++ $flags "$here/${target}_fuzz.cpp" $common $extra -o "$work/$target"
  mkdir -p "$work/found_$target" "$here/corpus/$target"
  "$work/$target" -max_total_time="$seconds" -max_len=1200 -print_final_stats=1 -artifact_prefix="$work/" \
    "$work/found_$target" "$here/corpus/$target" >"$work/$target.log" 2>&1 && status=0 || status=$?
  runs=$(grep -m1 'stat::number_of_executed_units' "$work/$target.log" | awk '{print $2}')
  crashes=$(find "$work" -maxdepth 1 -name 'crash-*' -o -maxdepth 1 -name 'leak-*' | wc -l)
  echo "$target: ${runs:-?} executions in ${seconds} s, exit status $status, $crashes crashing inputs"
  # Keep the corpus small: only inputs that add coverage.
  mkdir -p "$work/min_$target"
  "$work/$target" -merge=1 "$work/min_$target" "$here/corpus/$target" "$work/found_$target" >/dev/null 2>&1
  rm -f "$here/corpus/$target"/*
  cp "$work/min_$target"/* "$here/corpus/$target/" 2>/dev/null || true
  echo "  corpus: $(ls "$here/corpus/$target" | wc -l) inputs"
  [ "$status" -eq 0 ] || { tail -30 "$work/$target.log"; exit 1; }
done
