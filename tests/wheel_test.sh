#!/usr/bin/env bash
# `pip install .` as a Python user does it, with nothing downloaded: builds
# the wheel from the source tree through the in-tree build backend (CMake
# build folder kept in the build tree, so later runs are incremental),
# installs it into a fresh virtual environment made with
# --system-site-packages (numpy from the system), imports the module there
# from another folder and takes a median with it, then uninstalls it.
#   tests/wheel_test.sh <source-dir> <build-dir> <python>
# Exits 77 (skipped) where this Python cannot make a virtual environment.
set -euo pipefail
source=$1 build=$2 python=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
if ! "$python" -m venv --system-site-packages "$tmp/venv" >"$tmp/venv.log" 2>&1; then
  echo "skipped: $python cannot make a virtual environment (python3-venv): $(tail -1 "$tmp/venv.log")"
  exit 77
fi
venv=$tmp/venv/bin/python
pip=("$venv" -m pip --disable-pip-version-check --no-input --no-cache-dir -q)
fail=0
"${pip[@]}" wheel --no-build-isolation --no-index --no-deps -w "$tmp/wheels" \
  --config-settings "build-dir=$build/wheel-build" "$source" >"$tmp/wheel.log" 2>&1 ||
  { cat "$tmp/wheel.log"; echo "wheel: 0 passed, 1 failed (pip wheel failed)"; exit 1; }
wheel=$(ls "$tmp"/wheels/hedm_reduction-*.whl)
contents=$("$venv" -c 'import sys, zipfile; print(" ".join(sorted(zipfile.ZipFile(sys.argv[1]).namelist())))' "$wheel")
for want in "hedm_reduction.cpython-" "hedm_reduction.pyi" "dist-info/METADATA" "dist-info/RECORD" "dist-info/WHEEL"; do
  [[ $contents == *"$want"* ]] || { echo "the wheel holds no $want: $contents"; fail=1; }
done
"${pip[@]}" install --no-index --no-deps "$wheel" || { echo "pip install of $wheel failed"; fail=1; }
where=$(cd / && env -u PYTHONPATH "$venv" -c '
import numpy as np, hedm_reduction as h
frames = (np.full((3, 4), i, dtype=np.uint16) for i in range(5))
assert h.median(frames).tolist() == [[2] * 4] * 3
print(h.__file__)' 2>&1) || { echo "the installed module failed: $where"; fail=1; }
[[ $where == "$tmp/venv/"* ]] || { echo "hedm_reduction was imported from $where, not the virtual environment"; fail=1; }
"${pip[@]}" uninstall -y hedm-reduction || { echo "pip uninstall failed"; fail=1; }
left=$(find "$tmp/venv" -name 'hedm_reduction*')
[ -z "$left" ] || { echo "pip uninstall left $left"; fail=1; }
[ "$fail" -eq 0 ] && echo "wheel: 1 passed, 0 failed" || { echo "wheel: 0 passed, 1 failed"; exit 1; }
