#!/usr/bin/env bash
# Installs into a temporary prefix and checks that the programs run from
# there and that the manual pages and documents are in place (and, where
# groff is present, that every page renders without a warning); then, where
# the build made the Python module, installs into ~/.local of a scratch HOME
# as the README says and imports the module there with the Python it was
# built for, from another folder and without PYTHONPATH.
#   tests/install_test.sh <build-dir> [the module's Python]
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
fail=0
for prog in StackCollapse PanelPack ClipCount BuildTriMesh GrainQuats SolutionDump FramePreview; do
  [ -x "$prefix/bin/$prog" ] || { echo "missing bin/$prog"; fail=1; continue; }
  [ -f "$prefix/share/man/man1/$prog.1" ] || { echo "missing man page $prog.1"; fail=1; }
done
if command -v groff >/dev/null; then
  for page in "$prefix"/share/man/man1/*.1; do
    warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1 || true)
    [ -z "$warnings" ] || { echo "$page: $warnings"; fail=1; }
  done
fi
out=$("$prefix/bin/StackCollapse" 2>&1) && status=0 || status=$?
[ "$status" -eq 1 ] && [ "$out" = "Not enough arguments, exiting." ] || { echo "installed StackCollapse: $status $out"; fail=1; }
printf 'GridSize 2\nRsample 1\nDataDirectory %s\n' "$prefix" >"$prefix/p.txt"
"$prefix/bin/BuildTriMesh" "$prefix/p.txt" >/dev/null && [ "$(head -1 "$prefix/grid.txt")" = 6 ] || { echo "installed BuildTriMesh failed"; fail=1; }
for cmd in hedm-sample-data hedm-share hedm-far-field-share hedm-merge-counts hedm-far-field-status hedm-slurm-far-field hedm-slurm-dark \
  hedm-far-field-submit hedm-far-field-resume; do
  [ -x "$prefix/bin/$cmd" ] || { echo "missing bin/$cmd"; fail=1; continue; }
  [ -f "$prefix/share/man/man1/$cmd.1" ] || { echo "missing man page $cmd.1"; fail=1; }
  case "$cmd" in hedm-sample-data | hedm-share | hedm-merge-counts | hedm-far-field-status) continue ;; esac  # they call no program
  grep -q "^bin='$prefix/bin'" "$prefix/bin/$cmd" ||
    { echo "installed $cmd does not call the installed programs"; fail=1; }
done
[ "$("$prefix/bin/hedm-share" 1 10 1 3 | tr '\n' ' ')" = "1 4 5 7 8 10 " ] || { echo "installed hedm-share failed"; fail=1; }
if grep -n 'docs/cluster\|tools/cluster\|\$HEDM_' "$prefix/share/doc/hedm_reduction/README.md" "$prefix"/share/man/man1/*.1; then
  echo "installed documents point into the source tree"; fail=1
fi
python=${2:-}
if [ -n "$python" ]; then
  home=$prefix/home
  mkdir -p "$home"
  HOME=$home cmake --install "$build" --prefix "$home/.local" >/dev/null
  where=$(cd / && env -u PYTHONPATH HOME="$home" "$python" -c 'import hedm_reduction; print(hedm_reduction.__file__)' 2>&1) ||
    { echo "after cmake --install --prefix \$HOME/.local, $python cannot import hedm_reduction: $where"; fail=1; }
  [[ $where == "$home"/.local/lib/python3*/site-packages/hedm_reduction* ]] ||
    { echo "the module was imported from $where, not the user site of the scratch HOME"; fail=1; }
  grep -qF "\`$python\`" "$prefix/share/doc/hedm_reduction/README.md" ||
    { echo "the README does not name $python, the Python the module was built for"; fail=1; }
else
  echo "no Python module in this build: its install not checked"
fi
for doc in README.md formats.md; do
  [ -f "$prefix/share/doc/hedm_reduction/$doc" ] || { echo "missing doc $doc"; fail=1; }
done
[ "$fail" -eq 0 ] && echo "install: 1 passed, 0 failed" || { echo "install: 0 passed, 1 failed"; exit 1; }
