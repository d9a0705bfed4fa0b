#!/usr/bin/env bash
# StackCollapse on HDF5 stacks against its floors, side by side (hyperfine):
#  - N x 2048 x 2048 uint16, one frame a chunk, uncompressed (read where the
#    frames lie), against the same frames as a frame file and against cat;
#  - the same with bitshuffle/LZ4 and with deflate (chunks decoded on every
#    thread), against h5py reading the whole dataset once (/usr/bin/python3)
#    and against cat of the compressed file;
#  - 100 frames of uint32 (hot pixels at 2^32-1, hedm-sample-data's)
#    against cat;
# then the peak resident set size (ru_maxrss, /usr/bin/time -v) of each
# StackCollapse run, and the bitshuffle/LZ4 decoding rate: the decoded bytes
# over the time of the median of the stack less that of the same frames
# uncompressed, per thread.  N is 400 by default (about 13 GB of files in
# WORK); the runs' medians and their ratios are printed at the end.
#   bench/hdf5_median.sh [build] [work] [N] [runs]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
work=${2:-/tmp/hedm-hdf5-bench}
n=${3:-400}
runs=${4:-5}
command -v hyperfine >/dev/null || { echo "hyperfine is missing (apt-get install hyperfine)"; exit 1; }
mkdir -p "$work" && cd "$work"
gen="$build/hedm-sample-data" sc="$build/StackCollapse"
[ -e s$n.ge3 ] || "$gen" stack s$n.ge3 "$n" >/dev/null
[ -e s$n.h5 ] || "$gen" h5 s$n.h5 "$n" >/dev/null
[ -e s${n}b.h5 ] || "$gen" h5 s${n}b.h5 "$n" --filter bitshuffle >/dev/null
[ -e s${n}d.h5 ] || "$gen" h5 s${n}d.h5 "$n" --filter deflate >/dev/null
[ -e w100.h5 ] || "$gen" h5 w100.h5 100 --bits 32 >/dev/null
read_all() { echo "/usr/bin/python3 -c \"import h5py; h5py.File('$1')['/entry/data/data'][...]\""; }
# name|command, in the order they are timed
cases=(
  "frame file|$sc s$n.ge3 o.ge3" "uncompressed|$sc s$n.h5 o.h5" "cat uncompressed|cat s$n.h5"
  "bitshuffle|$sc s${n}b.h5 ob.h5" "h5py bitshuffle|$(read_all s${n}b.h5)" "cat bitshuffle|cat s${n}b.h5"
  "deflate|$sc s${n}d.h5 od.h5" "h5py deflate|$(read_all s${n}d.h5)"
  "uint32 100|$sc w100.h5 ow.h5" "cat uint32 100|cat w100.h5"
)
args=()
for c in "${cases[@]}"; do args+=(-n "${c%%|*}" "${c#*|}"); done
hyperfine --warmup 1 --runs "$runs" --export-json times.json "${args[@]}" >/dev/null
python3 - "$n" <<'EOF'
import json, sys
n = int(sys.argv[1])
t = {r["command"]: r["median"] for r in json.load(open("times.json"))["results"]}
for name, s in t.items():
    print(f"{name:>18}: {s:7.2f} s")
def ratio(a, b, target):
    print(f"{a} / {b}: {t[a] / t[b]:.2f}x (target {target})")
ratio("uncompressed", "frame file", "at most 1.2x")
ratio("uncompressed", "cat uncompressed", "at most 2x")
ratio("bitshuffle", "h5py bitshuffle", "at most 0.35x")
ratio("bitshuffle", "cat bitshuffle", "")
ratio("deflate", "h5py deflate", "at most 0.6x")
ratio("uint32 100", "cat uint32 100", "at most 3x")
decoded = n * 2048 * 2048 * 2 / 1e9
extra = t["bitshuffle"] - t["uncompressed"]
if extra > 0:
    print(f"bitshuffle/LZ4 decoding: {decoded:.2f} GB in about {extra:.2f} s more than uncompressed: "
          f"{decoded / extra:.2f} GB/s on 2 threads, {decoded / extra / 2:.2f} GB/s per thread")
EOF
for f in s$n.ge3 s$n.h5 s${n}b.h5 s${n}d.h5 w100.h5; do
  peak=$(/usr/bin/time -v "$sc" "$f" "m_$f.h5" 2>&1 >/dev/null | awk '/Maximum resident/{print $6}')
  echo "peak RSS $((peak / 1024)) MiB (target at most 256): StackCollapse $f"
done
