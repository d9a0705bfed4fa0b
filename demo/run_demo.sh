#!/usr/bin/env bash
# A complete small experiment on generated data: float images to frame files,
# a dark median, saturation counts, the triangle grid, seed orientations and
# the result tables, each program run as a user would, everything in one
# output folder.
#   demo/run_demo.sh [build-dir] [output-dir]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
out=${2:-demo-output}
mkdir -p "$out/logs"
out=$(cd "$out" && pwd)

step() { echo; echo "== $*"; }
# run <expected status> <log name> <program> <args...>: shows and keeps the output.
run() {
  local expect=$1 log=$2 status=0
  shift 2
  echo "\$ $(basename "$1") ${*:2}"
  "$@" >"$out/logs/$log.log" || status=$?
  sed 's/^/  /' "$out/logs/$log.log"
  if [ "$status" -ne "$expect" ]; then
    echo "$(basename "$1") ended with status $status (expected $expect); see $out/logs/$log.log" >&2
    exit 1
  fi
}

step "Generating sample data in $out"
# hedm-sample-data makes new files only: the sample data of an earlier demo
# run in this folder goes first.
rm -f "$out"/scan_0000[1-5].raw "$out/dark_stack.ge3" "$out/grains.txt" "$out/mic.bin" "$out/mic.bin.AllMatches"
"$build/hedm-sample-data" floats "$out/scan_" 1 5 raw 3      # five images, number 3 overexposed
"$build/hedm-sample-data" stack "$out/dark_stack.ge3" 10     # ten dark frames
"$build/hedm-sample-data" grains "$out/grains.txt" 200
"$build/hedm-sample-data" results "$out/mic.bin" 5000 3      # a reconstruction's result files
cat >"$out/parameters.txt" <<PARAMS
% One parameter file for BuildTriMesh and SolutionDump; each reads its own keys.
GridSize 5
Rsample 200
DataDirectory $out
PhaseNr 1
NumPhases 1
GlobalPosition 0
MicFileBinary $out/mic.bin
MicFileText $out/mic.txt
SaveNSolutions 3
PARAMS
ls "$out" | sed 's/^/  /'

step "Far field: float images to detector frame files (PanelPack ends with status 1 when it is done)"
run 1 PanelPack "$build/PanelPack" "$out/scan_" 1 5 5 raw 1
step "Far field: the median of the dark stack"
run 0 StackCollapse "$build/StackCollapse" "$out/dark_stack.ge3" "$out/dark_median.ge3"
step "Far field: saturated pixels per frame (at 14000 or above), less the dark count"
run 0 ClipCount "$build/ClipCount" "$out" scan 5 1 5 .ge3 dark_median.ge3 14000
step "Near field: the triangle grid"
run 0 BuildTriMesh "$build/BuildTriMesh" "$out/parameters.txt"
step "Near field: seed orientations from the grain list"
run 0 GrainQuats "$build/GrainQuats" "$out/grains.txt" "$out/seeds.csv"
step "Near field: result tables"
run 0 SolutionDump "$build/SolutionDump" "$out/parameters.txt"
step "A look at the dark median"
run 0 FramePreview "$build/FramePreview" "$out/dark_median.ge3" "$out/dark_median.png" --log

step "What each program produced"
cat <<SUMMARY
  PanelPack      $out/scan_00001.ge3 ... scan_00005.ge3   one-frame detector frame files
  StackCollapse  $out/dark_median.ge3                     the per-pixel median of 10 dark frames
  ClipCount      $out/logs/ClipCount.log                  saturated pixels per frame (image 3 is overexposed)
  BuildTriMesh   $out/grid.txt                            $(head -1 "$out/grid.txt") grid points
  GrainQuats     $out/seeds.csv                           $(wc -l <"$out/seeds.csv") seed orientations
  SolutionDump   $out/mic.txt and $out/mic.txt.AllMatches the result tables
  FramePreview   $out/dark_median.png                     open it in a browser
  Every program's messages are in $out/logs/.
SUMMARY
