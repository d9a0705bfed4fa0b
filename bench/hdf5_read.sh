#!/usr/bin/env bash
# The HDF5 reading layer against h5py reading the same dataset whole, warm
# from the page cache: a 400-frame 2048 x 2048 16-bit dark-like stack, one
# frame a chunk, uncompressed and bitshuffle/LZ4 (and deflate with "all" as
# the third argument); the layer reads frame by frame, and in bands across
# all frames as a median does (uncompressed only: a compressed frame chunk
# would be decoded once per band).  Sums compared; hyperfine's medians.
#   bench/hdf5_read.sh [build-dir] [work-dir] [all]
# The files take about 5 GB of disk and are kept for the next run.
set -euo pipefail
build=${1:-build}
work=${2:-$(mktemp -d)}
filters="none bitshuffle"
[ "${3:-}" = all ] && filters="$filters deflate"
cmake --build "$build" --target hdf5_read hedm-sample-data >/dev/null
mkdir -p "$work"
for filter in $filters; do
  f=$work/dark400_$filter.h5
  [ -e "$f" ] || "$build/hedm-sample-data" h5 "$f" 400 --filter "$filter"
  cat "$f" >/dev/null
  ours=$("$build/hdf5_read" "$f")
  theirs=$(/usr/bin/python3 -c "import h5py, sys; print(int(h5py.File(sys.argv[1])['/entry/data/data'][...].sum(dtype='u8')))" "$f")
  [ "$ours" = "$theirs" ] || { echo "sums differ for $f: $ours vs $theirs"; exit 1; }
  cmds=("$build/hdf5_read $f" "/usr/bin/python3 -c \"import h5py; h5py.File('$f')['/entry/data/data'][...]\"")
  [ "$filter" = none ] && cmds+=("$build/hdf5_read $f 10240" "cat $f")
  hyperfine -N --warmup 1 --runs 5 --export-json "$work/$filter.json" "${cmds[@]}"
  /usr/bin/python3 -c "
import json, sys
for r in json.load(open(sys.argv[1]))['results']:
    print(f\"  median {r['median']:.2f} s  {r['command']}\")" "$work/$filter.json"
done
