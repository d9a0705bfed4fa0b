#!/usr/bin/env bash
# Far-field shares killed at random moments on a private three-node Slurm
# (tests/slurm_cluster.bash), each kill followed by hedm-far-field-resume:
# a run of 12 images in 3 shares is submitted, and one process of one share
# (PanelPack, ClipCount, the share script hedm-far-field-share, or the job
# script) is killed with SIGKILL after a random delay within its life.
# After each kill, before the resume, no frame file may be partial and a
# merge that succeeds must give the right counts; after the resume (and its
# job) every frame and the merged counts (-o) must equal one PanelPack and
# one ClipCount run byte for byte, with nothing unfinished left (no hidden
# temporary frame, no partial log).  Runs until KILLS kills have landed
# (the target still ran when it was killed, and its share was at work:
# converting, counting or between the two), then says where they landed.
#   bench/share_kills.sh [build-dir] [kills (100)]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
want=${2:-100}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../tests/slurm_cluster.bash"
procs=$here/../tests/slurm_procs.py
work=$(mktemp -d /tmp/hedm-kills-XXXXXX)
trap 'slurm_stop; rm -rf "$work"' EXIT
slurm_start "$work" n1 n2 n3

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
export PATH="$prefix/bin:$PATH"
ref=$work/ref data=$work/run/data
mkdir -p "$ref" "$data"
"$build/hedm-sample-data" floats "$ref/scan_" 1 12 raw 3 >/dev/null
"$build/hedm-sample-data" stack "$ref/dark.ge3" 3 1 >/dev/null
(
  cd "$ref"
  StackCollapse dark.ge3 dark_median.ge3 >/dev/null
  PanelPack scan_ 1 12 5 raw 1 >/dev/null || true
  ClipCount "$ref" scan 5 1 12 .ge3 dark_median.ge3 14000 | sed -e '1d' -e '$d' -e "s|$ref|DATA|" >counts.txt
)
cp "$ref"/scan_*.raw "$ref/dark_median.ge3" "$data/"
cd "$work/run"

# The longest a target lives in such a run, about: the random delay falls
# within it.
declare -A life=([PanelPack]=0.12 [ClipCount]=0.015 [share]=0.2 [task]=0.5)
targets=(PanelPack ClipCount share task)
declare -A where=() misses=()
landed=0 cycles=0 missed=0 outside=0 bad=0
frames_whole() {  # every frame file present equals the reference's
  local f
  for f in "$data"/scan_*.ge3; do
    [ -e "$f" ] || continue
    cmp -s "$f" "$ref/${f##*/}" || { echo "  partial or wrong frame: ${f##*/} ($(stat -c %s "$f") bytes)"; return 1; }
  done
}
merged_right() {
  hedm-merge-counts -o counts.txt 2>merge.err && [ "$(sed "s|$data|DATA|" counts.txt)" = "$(cat "$ref/counts.txt")" ]
}
t0=$(date +%s)
while (( landed < want )); do
  cycles=$((cycles + 1))
  if (( cycles > 3 * want + 20 )); then
    echo "share kills: only $landed of $want kills landed in $cycles runs"
    exit 1
  fi
  rm -rf logs counts.txt ./*.out "$data"/scan_*.ge3
  job=$(sbatch --parsable --array=0-2 "$prefix/bin/hedm-slurm-far-field" "$data" scan 1 12 dark_median.ge3 14000 3)
  target=${targets[RANDOM % ${#targets[@]}]}
  said=$(python3 "$procs" kill-random --work "$work" --job "$job" --target "$target" --delay-max "${life[$target]}")
  slurm_wait "$job" >/dev/null
  python3 "$procs" wait-gone --work "$work" --job "$job" || true
  problem=""
  frames_whole || problem="a partial frame after the kill"
  # Before the resume a merge may fail; one that succeeds must be right.
  if [ -z "$problem" ] && hedm-merge-counts >/dev/null 2>&1 && ! merged_right; then
    problem="a merge before the resume gave other counts"
  fi
  hedm-far-field-resume >resume.txt || true
  resumed=$(sed -n 's/^Submitted them as job \([0-9]*\) .*/\1/p' resume.txt)
  if [ -n "$resumed" ]; then
    slurm_wait "$resumed" >/dev/null
    python3 "$procs" wait-gone --work "$work" --job "$resumed" || true
  fi
  [ -n "$problem" ] || merged_right || problem="the merge after the resume failed or differs"
  [ -n "$problem" ] || frames_whole || problem="a frame differs after the resume"
  left=$(find "$data" logs -name '.*' -type f)
  [ -n "$problem" ] || [ -z "$left" ] || problem="left behind: $left"
  if [[ $said == landed:* ]]; then
    landed=$((landed + 1))
    spot=${said#landed: }
    where[$spot]=$(( ${where[$spot]:-0} + 1 ))
  elif [[ $said == outside:* ]]; then
    outside=$((outside + 1))
  else
    missed=$((missed + 1))
    misses[$target]=$(( ${misses[$target]:-0} + 1 ))
  fi
  if [ -n "$problem" ]; then
    bad=$((bad + 1))
    echo "run $cycles ($said): $problem"
    sed 's/^/  /' resume.txt merge.err 2>/dev/null || true
  fi
done
echo "share kills: $landed landed while a share was at work (besides $outside on a job script outside its share, and $missed that missed) in $cycles runs, $(( $(date +%s) - t0 )) s; every run resumed to the same bytes: $([ "$bad" -eq 0 ] && echo yes || echo "no, $bad did not")"
echo "where they landed:"
for spot in "${!where[@]}"; do printf '%4d  %s\n' "${where[$spot]}" "$spot"; done | sort -k2
[ "$missed" -eq 0 ] || echo "missed (the target had ended, or never showed): $(for t in "${!misses[@]}"; do printf '%s %d, ' "$t" "${misses[$t]}"; done | sed 's/, $//')"
[ "$bad" -eq 0 ]
