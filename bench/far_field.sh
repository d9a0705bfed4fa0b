#!/usr/bin/env bash
# PanelPack and ClipCount against their floors, side by side in one run:
#   ClipCount over 30 one-frame files against `cat` of the same files (and the
#   straightforward per-pixel count);
#   PanelPack over 20 float images against reading the inputs and writing the
#   outputs with plain aligned buffers (and the straightforward two passes).
#   bench/far_field.sh [build-dir] [work-dir]
set -euo pipefail
build=${1:-build}
work=${2:-$(mktemp -d)}
command -v hyperfine >/dev/null || { echo "hyperfine is missing: apt-get install hyperfine"; exit 1; }
cmake --build "$build" --target PanelPack ClipCount hedm-sample-data panelpack_floor clipcount_plain >/dev/null
mkdir -p "$work/cc" "$work/pp"

# ClipCount series: 30 one-frame files and a dark file.
if [ ! -f "$work/cc/dark.ge3" ]; then
  "$build/hedm-sample-data" stack "$work/cc/dark.ge3" 1 1
  for i in $(seq 1 30); do "$build/hedm-sample-data" stack "$(printf "$work/cc/scan_%05d.ge3" "$i")" 1 "$i"; done
fi
[ -f "$work/pp/img_00020.raw" ] || "$build/hedm-sample-data" floats "$work/pp/img_" 1 20 raw
cat "$work"/cc/* "$work"/pp/*.raw >/dev/null

ratio() {  # json: ratio of result $2 to result $1 (medians)
  python3 -c "import json,sys; r=json.load(open('$1'))['results']; print(' '.join(f'{x[\"median\"]*1e3:.1f} ms' for x in r)); print('ratio %.2fx' % (r[$3]['median']/r[$2]['median']))"
}

echo "== ClipCount, 30 files of one frame"
hyperfine -N -w 3 -r 20 --export-json "$work/cc.json" \
  "cat $(echo "$work"/cc/scan_*.ge3) $work/cc/dark.ge3" \
  "$build/ClipCount $work/cc scan 5 1 30 .ge3 dark.ge3 2000" \
  "$build/clipcount_plain $(echo "$work"/cc/scan_*.ge3) $work/cc/dark.ge3 2000" | grep -E 'Benchmark|Time'
echo -n "medians: "; ratio "$work/cc.json" 0 1 | tr '\n' ' '; echo "(ClipCount / cat)"
ratio "$work/cc.json" 1 2 | tail -1 | sed 's/$/ (plain count \/ ClipCount)/'

echo "== PanelPack, 20 float images"
hyperfine -N -w 2 -r 10 --export-json "$work/pp.json" \
  "$build/panelpack_floor io $work/pp/img_ 1 20" \
  "$build/PanelPack $work/pp/img_ 1 20 5 raw 1" \
  "$build/panelpack_floor plain $work/pp/img_ 1 20" -i | grep -E 'Benchmark|Time'
echo -n "medians: "; ratio "$work/pp.json" 0 1 | tr '\n' ' '; echo "(PanelPack / read+write floor)"
ratio "$work/pp.json" 1 2 | tail -1 | sed 's/$/ (plain two passes \/ PanelPack)/'
"$build/PanelPack" "$work/pp/img_" 1 20 5 raw 1 >/dev/null || true
mkdir -p "$work/pp/fast" && cp "$work"/pp/*.ge3 "$work/pp/fast/"
"$build/panelpack_floor" plain "$work/pp/img_" 1 20
for f in "$work"/pp/*.ge3; do cmp "$f" "$work/pp/fast/$(basename "$f")"; done && echo "PanelPack outputs identical to the plain conversion"
for p in "$build/ClipCount $work/cc scan 5 1 30 .ge3 dark.ge3 2000" "$build/PanelPack $work/pp/img_ 1 20 5 raw 1"; do
  /usr/bin/time -f "peak memory $(basename "${p%% *}"): %M KiB" $p >/dev/null || true
done
