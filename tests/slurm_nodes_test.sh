#!/usr/bin/env bash
# The far-field reduction on a real Slurm of three nodes on this machine
# (tests/slurm_cluster.bash: one slurmd per node, memory enforced, every
# daemon stopped by process id whatever the outcome), through the failures a
# cluster brings, each followed by hedm-far-field-resume and
# hedm-merge-counts, the merged counts equal byte for byte to one ClipCount
# run over all images, every frame equal to one PanelPack run's, and no
# unfinished frame or log left anywhere:
#  1. the whole reduction (dark job, then a share per node) spreads over n1,
#     n2 and n3;
#  2. a node lost mid-run: its slurmd and the processes of its tasks killed
#     by process id while PanelPack converts there; Slurm marks it down; the
#     status, the merge and the resume say which share and why (and what it
#     left unfinished, a frame under a hidden temporary name included), and
#     the resume runs it on the nodes left;
#  3. a task past its time limit (--time=1, its share held up; a minute is
#     the least limit Slurm takes, so 4 and 5 run while it waits): "out of
#     time" with its limit; the resume refuses to send it again with the
#     same limit and takes a longer one (--time);
#  4. a task killed for memory (--mem=20M): "killed for memory" with what it
#     had used; the resume says how much a share needs and takes it (--mem);
#  5. the dark job lost with its node: the resume says why the median is
#     missing, runs the dark job again first, then the shares that waited.
#   tests/slurm_nodes_test.sh <build-dir>
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
source "$here/slurm_cluster.bash"
work=$(mktemp -d /tmp/hedm-nodes-XXXXXX)
finish() {
  slurm_stop
  rm -rf "$work"
}
trap finish EXIT
fail=0
check() {  # description, then a command that must succeed
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; fail=1; fi
}
t0=$(date +%s)
took() { echo "--- $1 took $(( $(date +%s) - t0 )) s"; t0=$(date +%s); }
stamp() { echo "  ($1 after $(( $(date +%s) - t0 )) s)"; }

if ! slurm_start "$work" n1 n2 n3; then
  echo "slurm nodes: 0 passed, 1 failed"
  exit 1
fi
sinfo

# --- the data and a single-process reference ---------------------------------
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
export PATH="$prefix/bin:$PATH"
gen="$build/hedm-sample-data"
ref=$work/ref
mkdir -p "$ref"
"$gen" floats "$ref/scan_" 1 12 raw 3 >/dev/null
"$gen" stack "$ref/dark_a.ge3" 3 1 >/dev/null
head -c $((8192 + 8388608)) /dev/zero >"$ref/dark_zero.ge3"
(
  cd "$ref"
  StackCollapse dark_a.ge3 dark_a_median.ge3 >/dev/null
  PanelPack scan_ 1 12 5 raw 1 >/dev/null || true
  ClipCount "$ref" scan 5 1 12 .ge3 dark_a_median.ge3 14000 | sed -e '1d' -e '$d' -e "s|$ref|DATA|" >counts_a.txt
  ClipCount "$ref" scan 5 1 12 .ge3 dark_zero.ge3 14000 | sed -e '1d' -e '$d' -e "s|$ref|DATA|" >counts_zero.txt
)
# A run's folder: its data (the images, a dark median) under data/.
new_run() {  # name; leaves the shell in it
  mkdir -p "$work/$1/data"
  cd "$work/$1"
  cp "$ref"/scan_*.raw "$ref/dark_a_median.ge3" data/
  data=$work/$1/data
}
# The merged counts of the last run (-o counts.txt) equal one ClipCount run's.
merged_is() {  # reference file
  hedm-merge-counts -o counts.txt 2>merge.err && [ "$(sed "s|$data|DATA|" counts.txt)" = "$(cat "$ref/$1")" ] ||
    { echo "  merge said:"; sed 's/^/    /' merge.err; return 1; }
}
# Every frame equal to the single-process run's, and nothing unfinished
# anywhere: no hidden temporary, no partial log (but what KEEP names).
frames_whole() {  # [KEEP]
  local f bad=0
  for f in "$ref"/scan_*.ge3; do
    cmp -s "$f" "$data/${f##*/}" || { echo "  differs or missing: ${f##*/}"; bad=1; }
  done
  while IFS= read -r f; do
    [ "${f##*/}" = "${1:-}" ] || { echo "  left behind: $f"; bad=1; }
  done < <(find "$data" logs -name '.*' -type f)
  return "$bad"
}
# The node a share's latest task ran on, from the task's record.
node_of() {  # run folder, share
  sed -n 's/^node: //p' "$(printf '%s/task_%04d.txt' "$1" "$2")"
}
submitted() { sed -n 's/^Submitted them as job \([0-9]*\) .*/\1/p' "$1"; }

# --- 1. the whole reduction over three nodes ----------------------------------
new_run run1
printf '%s %s\n' "$ref/dark_a.ge3" "$data/dark_a_median.ge3" >darks.txt
rm data/dark_a_median.ge3
said=$(hedm-far-field-submit darks.txt 3 "$data" scan 1 12 dark_a_median.ge3 14000)
read -r darkJob farJob <<<"$(grep -o 'job [0-9]*' <<<"$said" | awk '{print $2}' | tr '\n' ' ')"
slurm_wait "$darkJob" "$farJob"
run=logs/$farJob
check "every share completed" bash -c "hedm-far-field-status >status.txt"
check "the shares ran on n1, n2 and n3" test "$(for i in 0 1 2; do node_of "$run" $i; done | sort | tr '\n' ' ')" = "n1 n2 n3 "
check "the merged counts equal one ClipCount run's" merged_is counts_a.txt
check "every frame equals one PanelPack run's, nothing unfinished left" frames_whole
took "the whole reduction"

# --- 2. a node lost mid-run ----------------------------------------------------
new_run run2
job=$(sbatch --parsable --array=0-2 "$prefix/bin/hedm-slurm-far-field" "$data" scan 1 12 dark_a_median.ge3 14000 3)
run=logs/$job
slurm_lose_node PanelPack "$job" n2
lost=$REPLY
slurm_wait "$job"
stamp "Slurm marked the node lost"
share=$(for i in 0 1 2; do [ "$(node_of "$run" $i)" != "$lost" ] || echo $i; done)
check "the lost node is $lost, down, and a share ran there" \
  bash -c "[ '$lost' = n2 ] && [ -n '$share' ] && sinfo -h -n n2 -o %t | grep -q '^down'"
read -r s e <<<"$(hedm-share 1 12 1 "$share" 3)"
# A file system without unnamed files leaves a frame PanelPack had not
# finished under a hidden name beside it; one of another share's numbers
# (outside the run) stays.
head -c 1000 "$ref/scan_0000$s.ge3" >"data/.scan_0000$s.ge3.Ab12Cd"
head -c 1000 "$ref/scan_00001.ge3" >"data/.scan_00099.ge3.Ab12Cd"
hedm-far-field-status >status.txt || true
cat status.txt
why="started, never ended: its node n2 lost (job ${job}_$share; Slurm: NODE_FAIL)"
check "the status says the share's node was lost" grep -qx "share $share (numbers $s to $e): $why" status.txt
hedm-merge-counts 2>merge.err >/dev/null || true
cat merge.err
check "the merge says so too" grep -qx "task $share (numbers $s to $e): no counts: $why" merge.err
check "and names what it left unfinished, never counting it" \
  grep -q "^task $share (numbers $s to $e): left unfinished, never counted (removed when the share is redone): .*$run/.panelpack_0000000$s.log.partial.*data/.scan_0000$s.ge3.Ab12Cd" merge.err
hedm-far-field-resume >resume.txt || true
cat resume.txt
check "the resume redoes that share, saying why and where it runs" \
  grep -q "^  share $share (numbers $s to $e): $why; n2 is down, so it runs on the nodes left; it left .* unfinished" resume.txt
check "and only it" grep -q -- "--array=$share)" resume.txt
slurm_wait "$(submitted resume.txt)"
check "it ran on a node left" bash -c "[[ \$(sed -n 's/^node: //p' '$(printf '%s/task_%04d.txt' "$run" "$share")') == n[13] ]]"
check "the merged counts equal one ClipCount run's" merged_is counts_a.txt
check "every frame whole, what the lost node left removed (another run's left alone)" frames_whole .scan_00099.ge3.Ab12Cd
slurm_restart_node n2 || { echo "FAILED: n2 did not come back"; fail=1; }
took "a node lost"

# --- 3. a task past its time limit (its limit is a minute, the least Slurm
# takes: 4 and 5 run meanwhile) ----------------------------------------------------
new_run run3
rm data/scan_00006.raw
mkfifo data/scan_00006.raw  # share 1 (5 to 8) waits on it past its limit
job3=$(sbatch --parsable --time=1 --array=0-2 "$prefix/bin/hedm-slurm-far-field" "$data" scan 1 12 dark_a_median.ge3 14000 3)
for _ in $(seq 300); do
  held=$(node_of "logs/$job3" 1 2>/dev/null || true)
  [ -z "$held" ] || break
  sleep 0.2
done
echo "share 1 of job $job3 waits on $held past its limit"
took "a task out of time, started"

# --- 4. a task killed for memory -------------------------------------------------
new_run run4
rm data/scan_00010.raw
mkfifo data/scan_00010.raw  # share 2 (9 to 12) holds its image and frame until it is killed
job=$(sbatch --parsable --mem=20M --array=0-2 "$prefix/bin/hedm-slurm-far-field" "$data" scan 1 12 dark_a_median.ge3 14000 3)
run=logs/$job
slurm_wait "$job"
rm data/scan_00010.raw && cp "$ref/scan_00010.raw" data/
hedm-far-field-status >status.txt || true
cat status.txt
check "the status says share 2 was killed for memory, with what it had used" \
  grep -Eqx "share 2 \(numbers 9 to 12\): started, never ended: killed for memory \(it had used [0-9]+ MiB of its 20 MiB; job ${job}_2 on n[123]\)" status.txt
hedm-far-field-resume >resume.txt || true
cat resume.txt
check "the resume says how much memory a share needs, and sends nothing" \
  grep -Eq "^hedm-far-field-resume: The shares? [0-9,-]*2 (was|were) killed for memory: a share needs 64 MiB .* --mem=64M\.$" resume.txt
check "nor with less" bash -c "hedm-far-field-resume --mem=32M | grep -q -- '--mem=32M is less than the 64 MiB a share needs'"
hedm-far-field-resume --mem=64M >resume.txt || true
check "given that, it sends the share again" grep -Eq -- "--array=[0-9,-]*2\)" resume.txt
slurm_wait "$(submitted resume.txt)"
check "the merged counts equal one ClipCount run's" merged_is counts_a.txt
check "every frame whole, nothing unfinished left" frames_whole
took "a task killed for memory"

# --- 5. the dark job lost with its node ----------------------------------------
new_run run5
rm data/dark_a_median.ge3
truncate -s $((8192 + 100 * 8388608)) "$work/run5/deep_dark.ge3"  # sparse: a collapse that takes a while
printf '%s %s\n' "$work/run5/deep_dark.ge3" "$data/dark_zero.ge3" >darks.txt
said=$(hedm-far-field-submit darks.txt 3 "$data" scan 1 12 dark_zero.ge3 14000)
read -r darkJob farJob <<<"$(grep -o 'job [0-9]*' <<<"$said" | awk '{print $2}' | tr '\n' ' ')"
slurm_lose_node StackCollapse "$darkJob"
lost=$REPLY
slurm_wait "$darkJob" "$farJob"
stamp "Slurm marked the node lost"
check "no share ran, and no median was written" bash -c "[ ! -e logs/$farJob/task_0000.txt ] && [ ! -e data/dark_zero.ge3 ]"
hedm-far-field-resume >resume.txt || true
cat resume.txt
check "the resume says why the median is missing and runs the dark job first" \
  grep -q "^The dark median $data/dark_zero.ge3 is missing (the dark job $darkJob: task 0: its node $lost lost (job ${darkJob}_0; Slurm: NODE_FAIL)): the dark job runs again first, as job [0-9]*\.$" resume.txt
check "then every share, which never reported" grep -q "^  share 2 (numbers 9 to 12): never reported" resume.txt
slurm_wait $(sed -n -e 's/.* as job \([0-9]*\)\.$/\1/p' resume.txt) "$(submitted resume.txt)"
stamp "the resumed jobs ended"
check "the merged counts equal one ClipCount run's against the median" merged_is counts_zero.txt
check "every frame whole, nothing unfinished left" frames_whole
slurm_restart_node "$lost" || { echo "FAILED: $lost did not come back"; fail=1; }
stamp "$lost came back"
took "the dark job lost"

# --- 3. a task past its time limit, once it has run out ---------------------------
cd "$work/run3"
data=$work/run3/data
job=$job3
run=logs/$job
slurm_wait "$job"
rm data/scan_00006.raw && cp "$ref/scan_00006.raw" data/
hedm-far-field-status >status.txt || true
cat status.txt
check "the status says share 1 ran out of time, with its limit" \
  grep -qx "share 1 (numbers 5 to 8): started, never ended: out of time (its limit 00:01:00; job ${job}_1 on n[123])" status.txt
hedm-far-field-resume >resume.txt || true
cat resume.txt
check "the resume will not send it again with the same limit, and says what to give" \
  grep -qx "hedm-far-field-resume: The share 1 ran out of time (the limit 00:01:00): give a longer time limit, as hedm-far-field-resume --time=00:02:00; with the same one it would run out again." resume.txt
check "nor with one no longer" bash -c "hedm-far-field-resume --time=0:60 | grep -q 'is not longer than 00:01:00'"
hedm-far-field-resume --time=5 >resume.txt || true
check "given a longer one, it sends the share again" grep -q -- "--array=1)" resume.txt
slurm_wait "$(submitted resume.txt)"
check "with that limit" bash -c "scontrol show job $(submitted resume.txt) | grep -q 'TimeLimit=00:05:00'"
check "the merged counts equal one ClipCount run's" merged_is counts_a.txt
check "every frame whole, nothing unfinished left" frames_whole
took "a task out of time, ended"


[ "$fail" -eq 0 ] && echo "slurm nodes: 1 passed, 0 failed" || { echo "slurm nodes: 0 passed, 1 failed"; exit 1; }
