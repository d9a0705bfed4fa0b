#!/usr/bin/env bash
# Program transcripts: each case is a script that makes its inputs and runs
# programs in a fresh scratch folder (so every name in its output is
# relative), with the build's programs on PATH.  Its standard output must
# equal <case>.stdout.exact byte for byte and its exit status <case>.exit;
# processor-time figures are the one thing that varies, and are shown as
# N.NNNNNN.  With --record the expected files are written from the runs.
#   tests/transcripts/run.sh <build-dir> [--record]
set -uo pipefail
build=$(cd "$1" && pwd)
record=${2:-}
here=$(cd "$(dirname "$0")" && pwd)
passed=0 failed=0
for case in "$here"/*.sh; do
  [ "$(basename "$case")" = run.sh ] && continue
  # HEDM_TRANSCRIPTS_SKIP=WORD passes over the cases whose name holds WORD
  # (hdf5, in a build without HDF5).
  if [ -n "${HEDM_TRANSCRIPTS_SKIP:-}" ] && [[ $(basename "$case") == *"$HEDM_TRANSCRIPTS_SKIP"* ]]; then continue; fi
  scratch=$(mktemp -d) capture=$(mktemp -d)
  (cd "$scratch" && PATH="$build:$PATH" bash "$case" >"$capture/stdout" 2>"$capture/stderr"; echo $? >"$capture/status")
  sed -E 's/^(Time elapsed[^:]*: )[0-9]+\.[0-9]{6}/\1N.NNNNNN/' "$capture/stdout" >"$capture/out"
  if [ "$record" = --record ]; then
    cp "$capture/out" "$case.stdout.exact"
    cp "$capture/status" "$case.exit"
  fi
  if cmp -s "$capture/out" "$case.stdout.exact" && cmp -s "$capture/status" "$case.exit"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $(basename "$case") (status $(cat "$capture/status"), expected $(cat "$case.exit" 2>/dev/null))"
    diff "$case.stdout.exact" "$capture/out" | head -20
    head -5 "$capture/stderr"
  fi
  rm -rf "$scratch" "$capture"
done
echo "transcripts: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
