#!/usr/bin/env bash
# Installs into a temporary prefix and checks that the programs run from
# there and that the manual pages and documents are in place (and, where
# groff is present, that every page renders without a warning).
#   tests/install_test.sh <build-dir>
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
fail=0
for prog in StackCollapse PanelPack ClipCount BuildTriMesh GrainQuats SolutionDump FramePreview; do
  [ -x "$prefix/bin/$prog" ] || { echo "missing bin/$prog"; fail=1; continue; }
  [ -f "$prefix/share/man/man1/$prog.1" ] || { echo "missing man page $prog.1"; fail=1; }
  if command -v groff >/dev/null; then
    warnings=$(groff -man -Tutf8 -ww -z "$prefix/share/man/man1/$prog.1" 2>&1 || true)
    [ -z "$warnings" ] || { echo "$prog.1: $warnings"; fail=1; }
  fi
done
out=$("$prefix/bin/StackCollapse" 2>&1) && status=0 || status=$?
[ "$status" -eq 1 ] && [ "$out" = "Not enough arguments, exiting." ] || { echo "installed StackCollapse: $status $out"; fail=1; }
printf 'GridSize 2\nRsample 1\nDataDirectory %s\n' "$prefix" >"$prefix/p.txt"
"$prefix/bin/BuildTriMesh" "$prefix/p.txt" >/dev/null && [ "$(head -1 "$prefix/grid.txt")" = 6 ] || { echo "installed BuildTriMesh failed"; fail=1; }
for doc in README.md formats.md cluster.sh slurm_far_field.sh; do
  [ -f "$prefix/share/doc/hedm_reduction/$doc" ] || { echo "missing doc $doc"; fail=1; }
done
[ "$fail" -eq 0 ] && echo "install: 1 passed, 0 failed" || { echo "install: 0 passed, 1 failed"; exit 1; }
