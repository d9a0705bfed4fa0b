#!/usr/bin/env bash
# StackCollapse on HDF5 stacks against its floors, side by side (hyperfine):
#  - 400 x 2048 x 2048 uint16, one frame a chunk, uncompressed, against the
#    same-size frame file and cat;
#  - the same with bitshuffle/LZ4 and with deflate, against h5py reading the
#    whole dataset once (/usr/bin/python3);
#  - 100 frames of uint32 against cat;
# and the peak RssAnon of each run, sampled every 5 ms.  About 13 GB of
# files in WORK.
#   bench/hdf5_median.sh [build] [work]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
work=${2:-/tmp/hedm-hdf5-bench}
command -v hyperfine >/dev/null || { echo "hyperfine is missing (apt-get install hyperfine)"; exit 1; }
mkdir -p "$work" && cd "$work"
gen="$build/hedm-sample-data" sc="$build/StackCollapse"
[ -e s400.ge3 ] || "$gen" stack s400.ge3 400 >/dev/null
[ -e s400.h5 ] || "$gen" h5 s400.h5 400 >/dev/null
[ -e s400b.h5 ] || "$gen" h5 s400b.h5 400 --filter bitshuffle >/dev/null
[ -e s400d.h5 ] || "$gen" h5 s400d.h5 400 --filter deflate >/dev/null
[ -e w100.h5 ] || "$gen" h5 w100.h5 100 --bits 32 >/dev/null
read_all() { echo "/usr/bin/python3 -c \"import h5py; h5py.File('$1')['/entry/data/data'][...]\""; }
hyperfine -N --warmup 1 --runs 5 "$sc s400.ge3 o.ge3" "$sc s400.h5 o.h5" "cat s400.ge3"
hyperfine --warmup 1 --runs 3 "$sc s400b.h5 ob.h5" "$(read_all s400b.h5)" "$sc s400d.h5 od.h5" "$(read_all s400d.h5)"
hyperfine -N --warmup 1 --runs 5 "$sc w100.h5 ow.h5" "cat w100.h5"
for f in s400.ge3 s400.h5 s400b.h5 w100.h5; do
  "$sc" "$f" "m_$f.h5" >/dev/null &
  pid=$! peak=0
  while kill -0 $pid 2>/dev/null; do
    v=$(awk '/RssAnon/{print $2}' /proc/$pid/status 2>/dev/null || true)
    [ -n "$v" ] && [ "$v" -gt "$peak" ] && peak=$v
    sleep 0.005
  done
  wait $pid
  echo "peak RssAnon $((peak / 1024)) MiB: StackCollapse $f"
done
