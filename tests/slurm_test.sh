#!/usr/bin/env bash
# The far-field reduction on a real single-node Slurm: munged, slurmctld and
# slurmd started here under a scratch folder (stopped by process id whatever
# the outcome), the commands installed into a scratch prefix, then
#  1. every check hedm-far-field-submit makes before queueing refuses with
#     its message, and nothing is queued;
#  2. hedm-far-field-submit with three images missing: two dark stacks
#     collapsed by one array, then the far-field array after it; exactly the
#     three shares holding them FAILED, each task kept to one CPU, the
#     status names them, and the merge refuses the run naming them (with
#     -o, writing nothing);
#  3. the resume refuses while the images are missing, naming them; the
#     images restored, sbatch --array=K with the same arguments redoes
#     share K, hedm-far-field-resume the other two (not while its job is
#     held, and with the first submission's sbatch options; the status
#     says they are queued again), and then has nothing left; the status
#     shows every share completed though the old .out files still say
#     FAILED; every output and the merged counts (-o) equal a
#     single-process run byte for byte;
#  4. a second run in the same folder with another share count (and an
#     index outside it, and two CPUs a task) keeps its logs apart: both
#     runs merge to the same counts; without the share count, the array
#     must run 0 to N-1;
#  5. a dark job that fails cancels the far-field job: the resume runs the
#     dark job again, then every share, and the run merges;
#  6. a task cancelled while it runs (PanelPack waits on an image that is a
#     pipe no one writes): running, then, once scancel has ended it, named
#     "started, never ended: cancelled (...)" by the status, the merge and
#     the resume;
#  7. with memory accounted and enforced (a job past its --mem is killed),
#     StackCollapse collapses a 400-frame stack (3.4 GB) in --mem=1G.
#   tests/slurm_test.sh <build-dir>
set -euo pipefail
build=$(cd "$1" && pwd)
for cmd in munged slurmctld slurmd sbatch scontrol squeue; do
  command -v "$cmd" >/dev/null || { echo "slurm test: $cmd is missing (apt-get install slurm-wlm munge)"; exit 1; }
done
work=$(mktemp -d /tmp/hedm-slurm-XXXXXX)
pids=()
stop() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  sleep 0.5
  for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap stop EXIT
fail=0
check() {  # description, then a command that must succeed
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; fail=1; fi
}

# --- a private Slurm ---------------------------------------------------------
mkdir -p "$work/munge" "$work/state" "$work/spool" "$work/log"
chmod 711 "$work" "$work/munge"
head -c 1024 /dev/urandom >"$work/munge/munge.key"
chmod 400 "$work/munge/munge.key"
munged -F -f --key-file="$work/munge/munge.key" --socket="$work/munge/socket" \
  --pid-file="$work/munge/pid" --log-file="$work/munge/log" --seed-file="$work/munge/seed" \
  >"$work/log/munged.out" 2>&1 &
pids+=($!)
port=$(( 20000 + RANDOM % 20000 ))
host=$(hostname -s)
export SLURM_CONF="$work/slurm.conf"
cat >"$SLURM_CONF" <<CONF
ClusterName=hedmtest
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$port
SlurmdPort=$((port + 1))
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$work/munge/socket
CredType=cred/munge
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/log/slurmctld.log
SlurmdLogFile=$work/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/linux
JobAcctGatherParams=OverMemoryKill
JobAcctGatherFrequency=task=1
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/filetxt
JobCompLoc=$work/log/jobcomp.txt
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_Core_Memory
DefMemPerCPU=512
MpiDefault=none
ReturnToService=2
MinJobAge=3600
NodeName=$host NodeAddr=127.0.0.1 CPUs=2 RealMemory=2048 State=UNKNOWN
PartitionName=debug Nodes=ALL Default=YES MaxTime=INFINITE State=UP
CONF
for i in $(seq 50); do [ -S "$work/munge/socket" ] && break; sleep 0.1; done
slurmctld -D -f "$SLURM_CONF" >"$work/log/slurmctld.out" 2>&1 &
pids+=($!)
slurmd -D -f "$SLURM_CONF" >"$work/log/slurmd.out" 2>&1 &
pids+=($!)
up=0
for i in $(seq 100); do
  if sinfo -h -o %t 2>/dev/null | grep -q idle; then up=1; break; fi
  sleep 0.2
done
if [ "$up" -ne 1 ]; then
  echo "slurm test: Slurm did not come up on this machine:"
  tail -n 5 "$work"/log/*.out "$work"/log/*.log 2>/dev/null
  echo "slurm: 0 passed, 1 failed"
  exit 1
fi

wait_for() {  # job ids: until none is pending or running (two minutes at most)
  for i in $(seq 600); do
    [ -z "$(squeue -h -j "$(IFS=,; echo "$*")" 2>/dev/null)" ] && return 0
    sleep 0.2
  done
  echo "jobs $* did not end in time"; squeue; return 1
}
queue_empty() { [ -z "$(squeue -h 2>/dev/null)" ]; }
states() {  # job id: "task state exit" lines in task order
  scontrol show job -o "$1" | sed -E 's/.*ArrayTaskId=([0-9]+).* JobState=([A-Z_]+).* ExitCode=([0-9:]+).*/\1 \2 \3/' | sort -n
}

# --- the data and a single-process reference ---------------------------------
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
export PATH="$prefix/bin:$PATH"
gen="$build/hedm-sample-data"
mkdir -p "$work/ref" "$work/run/data"
"$gen" floats "$work/ref/scan_" 1 12 raw 3 >/dev/null
"$gen" stack "$work/ref/dark_a.ge3" 3 1 >/dev/null
"$gen" stack "$work/ref/dark_b.ge3" 2 2 >/dev/null
cp "$work"/ref/* "$work/run/data/"
(
  cd "$work/ref"
  StackCollapse dark_a.ge3 dark_a_median.ge3 >/dev/null
  StackCollapse dark_b.ge3 dark_b_median.ge3 >/dev/null
  PanelPack scan_ 1 12 5 raw 1 >/dev/null || true
  ClipCount "$work/ref" scan 5 1 12 .ge3 dark_a_median.ge3 14000 >clipcount.txt
)

# --- 1. checks before queueing ------------------------------------------------
cd "$work/run"
data=$work/run/data
printf '%s %s\n' "$data/dark_a.ge3" "$data/dark_a_median.ge3" "$data/dark_b.ge3" "$data/dark_b_median.ge3" >darks.txt
printf '%s %s\n' "$data/dark_a.ge3" "$data/dark_a_median.ge3" "$data/dark_c.ge3" "$data/dark_c_median.ge3" >bad_darks.txt
sed "s|^bin='.*'|bin='$work/nobin'|" "$prefix/bin/hedm-far-field-submit" >submit_nobin
refused() {  # expected message, then the submission's arguments
  local expect=$1 out status=0
  shift
  out=$("$@" 2>&1) || status=$?
  [ "$status" -ne 0 ] && grep -qF -- "$expect" <<<"$out" && { [ -n "${queued:-}" ] || queue_empty; } ||
    { echo "  said (status $status): $out"; return 1; }
}
submit=hedm-far-field-submit
check "a folder that does not exist is refused" refused "The folder $work/nowhere does not exist." \
  $submit darks.txt 5 "$work/nowhere" scan 1 12 dark_a_median.ge3 14000
check "a dark stack that does not exist is refused" \
  refused "The dark stack $data/dark_c.ge3 (line 2 of bad_darks.txt) does not exist" \
  $submit bad_darks.txt 5 "$data" scan 1 12 dark_a_median.ge3 14000
check "a dark name the dark job does not write is refused" \
  refused "The dark file $data/dark_a_medain.ge3 is not one the dark job writes" \
  $submit darks.txt 5 "$data" scan 1 12 dark_a_medain.ge3 14000
check "a range whose first image is missing is refused" \
  refused "The image $data/scan_00000.raw (number 0, at an end of the range) does not exist" \
  $submit darks.txt 5 "$data" scan 0 12 dark_a_median.ge3 14000
check "a range whose last image is missing is refused" refused "The image $data/scan_00013.raw (number 13" \
  $submit darks.txt 5 "$data" scan 1 13 dark_a_median.ge3 14000
check "a range with no image is refused" refused "The range 12 to 1 holds no image." \
  $submit darks.txt 5 "$data" scan 12 1 dark_a_median.ge3 14000
check "missing programs are refused" refused "The program $work/nobin/PanelPack is missing." \
  bash submit_nobin darks.txt 5 "$data" scan 1 12 dark_a_median.ge3 14000
check "a task count that is not a number is refused" refused 'hedm-far-field-submit: TASKS "14k" is not a whole number.' \
  $submit darks.txt 14k "$data" scan 1 12 dark_a_median.ge3 14000
check "a saturation that is not a number is refused" refused 'SATURATION "0x10" is not a whole number.' \
  $submit darks.txt 5 "$data" scan 1 12 dark_a_median.ge3 0x10
check "the job script run by hand checks an absolute dark name as a path" \
  refused "The dark file $work/elsewhere/dark.ge3 does not exist" \
  hedm-slurm-far-field "$data" scan 1 12 "$work/elsewhere/dark.ge3" 14000 5
check "and passes a dark that exists" bash -c "hedm-slurm-far-field '$data' scan 1.2e1 12 '$work/ref/dark_a_median.ge3' 14000.0 5 | grep -q 'checks passed'"
check "nothing was queued, no run recorded" bash -c "[ -z \"\$(squeue -h)\" ] && [ ! -e logs ]"

# --- 2. the whole reduction as one submission, three images missing -----------
# 12 numbers in 5 shares: 1-3, 4-6, 7-8, 9-10, 11-12.
mkdir -p "$work/aside"
mv "$data/scan_00002.raw" "$data/scan_00008.raw" "$data/scan_00011.raw" "$work/aside/"
t0=$(date +%s.%N)
said=$(hedm-far-field-submit darks.txt 5 "$data" scan 1 1.2e1 dark_a_median.ge3 14000 --job-name=hedmtest)
echo "$said"
jobs=$(grep -o 'job [0-9]*' <<<"$said" | awk '{print $2}' | tr '\n' ' ')
wait_for $jobs
read -r darkJob farJob <<<"$jobs"
check "every dark task COMPLETED" test "$(states "$darkJob" | awk '{print $2}' | sort -u)" = COMPLETED
echo "--- hedm-far-field_${farJob}_2.out:"; cat "hedm-far-field_${farJob}_2.out"; echo "---"
check "exactly shares 0, 2 and 4 FAILED" \
  test "$(states "$farJob" | awk '{print $1, $2}' | tr '\n' ' ')" = "0 FAILED 1 COMPLETED 2 FAILED 3 COMPLETED 4 FAILED "
out2=hedm-far-field_${farJob}_2.out
check "a failed task's last line names it as Slurm does, with its numbers and the missing image" \
  test "$(tail -n 1 "$out2")" = "hedm-far-field task 2 of 5 (numbers 7 to 8): FAILED: PanelPack: Could not read $data/scan_00008.raw. Nothing of this share was counted (see logs/$farJob/panelpack_00000007.log)."
grep -h '^CPUs' hedm-far-field_"$farJob"_*.out
check "each task ran on one CPU" test "$(grep -h -c '^CPUs: .* (1 of ' hedm-far-field_"$farJob"_*.out | sort -u)" = 1
check "the merge refuses the run, naming the failed tasks" bash -c "! hedm-merge-counts >/dev/null 2>merge.err"
check "the merge names task 4 by its index and numbers" grep -q "^task 4 (numbers 11 to 12): no counts: FAILED: PanelPack: Could not read" merge.err
check "merge -o of the incomplete run writes nothing" bash -c "! hedm-merge-counts -o counts.txt 2>/dev/null && [ ! -e counts.txt ] && [ -z \"\$(ls -A | grep '^\.counts')\" ]"
check "the status of the run fails" bash -c "! hedm-far-field-status >status.txt"
check "and names each failed share with its reason" \
  grep -q "^share 2 (numbers 7 to 8): FAILED: PanelPack: Could not read $data/scan_00008.raw" status.txt
check "and what is left" grep -qx "2 of 5 shares completed; not completed: shares 0,2,4 (hedm-far-field-resume logs/$farJob submits them again)." status.txt

# --- 3. redo one share by hand, resume the rest --------------------------------
check "the resume refuses while images of the failed shares are missing, naming them" \
  refused "hedm-far-field-resume: The image $data/scan_00008.raw (number 8, share 2) does not exist or cannot be read." \
  hedm-far-field-resume
check "every one of them" bash -c "hedm-far-field-resume | grep -c 'The image .* does not exist' | grep -qx 3"
mv "$work"/aside/scan_00002.raw "$work"/aside/scan_00008.raw "$work"/aside/scan_00011.raw "$data/"
job=$(sbatch --parsable --array=2 "$prefix/bin/hedm-slurm-far-field" "$data" scan 1 12 dark_a_median.ge3 14000 5)
wait_for "$job"
check "sbatch --array=2 with the same arguments redoes share 2" test "$(states "$job")" = "2 COMPLETED 0:0"
check "into the run's own folder" grep -q "state: COMPLETED" "logs/$farJob/task_0002.txt"
hedm-far-field-resume --hold >resume.txt || true
cat resume.txt
resumed=$(sed -n 's/^Submitted them as job \([0-9]*\) .*/\1/p' resume.txt)
check "the resume submits exactly shares 0 and 4" grep -q -- "--array=0,4" resume.txt
check "and says why" grep -q "share 4 (numbers 11 to 12): FAILED: PanelPack: Could not read" resume.txt
queued=1 check "not again while its job is queued" refused "job $resumed of the run logs/$farJob is still queued" hedm-far-field-resume
check "with the first submission's sbatch options" bash -c "scontrol show job $resumed | grep -q 'JobName=hedmtest'"
hedm-far-field-status >status.txt || true
check "the status says the resumed shares are queued again" \
  grep -q "^share 4 (numbers 11 to 12): queued again (pending job ${resumed}_4); its last attempt: FAILED: PanelPack" status.txt
scontrol release "$resumed"
wait_for "$resumed"
check "the resumed shares COMPLETED" test "$(states "$resumed" | awk '{print $1, $2}' | tr '\n' ' ')" = "0 COMPLETED 4 COMPLETED "
check "then nothing is left to resume" bash -c "hedm-far-field-resume | grep -q 'completed; nothing to submit'"
check "and nothing was queued" queue_empty
check "the status shows every share completed" bash -c "hedm-far-field-status >status.txt && grep -q '^All 5 shares completed' status.txt"
check "and no failure, though the old .out files still hold theirs" \
  bash -c "! grep -q FAILED status.txt && grep -q FAILED hedm-far-field_${farJob}_2.out"
same=1
for f in "$work"/ref/*.ge3; do cmp -s "$f" "data/$(basename "$f")" || { echo "differs: $(basename "$f")"; same=0; }; done
check "every frame file and median identical to the single-process run" test "$same" -eq 1
reference=$(sed -e '1d' -e '$d' -e "s|$work/ref|DATA|" "$work/ref/clipcount.txt")
merged_is_reference() {  # hedm-merge-counts arguments
  local merged
  merged=$(hedm-merge-counts "$@" 2>merge.err) && [ "$(sed "s|$data|DATA|" <<<"$merged")" = "$reference" ]
}
check "merged counts identical to one ClipCount run" merged_is_reference
check "and with -o, written to the file" \
  bash -c "hedm-merge-counts -o counts.txt 2>/dev/null && [ \"\$(sed 's|$data|DATA|' counts.txt)\" = \"\$1\" ]" _ "$reference"
echo "the reduction took $(python3 -c "print(round($(date +%s.%N) - $t0, 1))") s in Slurm"

# --- 4. a second run in the same folder ----------------------------------------
job2=$(sbatch --parsable --cpus-per-task=2 --array=0-3 "$prefix/bin/hedm-slurm-far-field" "$data" scan 1 12 dark_a_median.ge3 14000 3)
wait_for "$job2"
check "an index outside the share count FAILED with a message" \
  grep -q "FAILED: there are 3 shares (0 to 2); share 3 is not one of them." "hedm-far-field_${job2}_3.out"
check "a task given two CPUs runs on two" grep -q '^CPUs: .* (2 of ' "hedm-far-field_${job2}_0.out"
check "the second run has a folder of its own" test -f "logs/$job2/run.txt"
check "the last run merges to the same counts" merged_is_reference
check "and so does the first, named" merged_is_reference "logs/$farJob"
job3=$(sbatch --parsable --array=1-2 "$prefix/bin/hedm-slurm-far-field" "$data" scan 1 12 dark_a_median.ge3 14000)
wait_for "$job3"
check "without the share count, an array that skips task 0 FAILED and says why" \
  grep -q "give the number of shares as the last argument (N) to run some of them, or submit --array=0-1" "hedm-far-field_${job3}_1.out"
# --- 5. a dark job that fails: the far-field job never runs; resume both ------
mkdir -p "$work/run5/data" && cd "$work/run5"
data5=$work/run5/data
cp "$work"/ref/scan_0000[1-4].raw "$data5/"
: >"$data5/dark_a.ge3"  # no frame: StackCollapse fails
printf '%s %s\n' "$data5/dark_a.ge3" "$data5/dark_a_median.ge3" >darks.txt
said=$(hedm-far-field-submit darks.txt 2 "$data5" scan 1 4 dark_a_median.ge3 14000)
read -r darkJob farJob <<<"$(grep -o 'job [0-9]*' <<<"$said" | awk '{print $2}' | tr '\n' ' ')"
wait_for "$darkJob" "$farJob"
check "the dark task FAILED" test "$(states "$darkJob" | awk '{print $2}')" = FAILED
check "and no share reported" test -z "$(compgen -G "logs/$farJob/task_*" || true)"
cp "$work/ref/dark_a.ge3" "$data5/"
hedm-far-field-resume >resume.txt || true
cat resume.txt
check "the resume names the shares that never reported" grep -q "share 1 (numbers 3 to 4): never reported" resume.txt
check "and runs the dark job again first" grep -q "the dark job runs again first" resume.txt
wait_for $(sed -n -e 's/.* as job \([0-9]*\)\.$/\1/p' -e 's/^Submitted them as job \([0-9]*\) .*/\1/p' resume.txt)
merged=$(hedm-merge-counts 2>/dev/null | sed "s|$data5|DATA|") || true
check "then the run merges to one ClipCount run's counts" \
  test "$merged" = "$(cd "$work/ref" && ClipCount "$work/ref" scan 5 1 4 .ge3 dark_a_median.ge3 14000 | sed -e '1d' -e '$d' -e "s|$work/ref|DATA|")"

# --- 6. a task cancelled while it runs -------------------------------------------
mkdir -p "$work/run6/data" && cd "$work/run6"
data6=$work/run6/data
cp "$work"/ref/scan_0000[1-4].raw "$work/ref/dark_a_median.ge3" "$data6/"
rm "$data6/scan_00003.raw"
mkfifo "$data6/scan_00003.raw"  # PanelPack waits on it for ever
job6=$(sbatch --parsable --array=0-1 "$prefix/bin/hedm-slurm-far-field" "$data6" scan 1 4 dark_a_median.ge3 14000 2)
for i in $(seq 300); do
  grep -q '^state: STARTED' "logs/$job6/task_0001.txt" 2>/dev/null && [ "$(states "$job6" | awk '$1 == 0 {print $2}')" = COMPLETED ] && break
  sleep 0.2
done
hedm-far-field-status >status.txt || true
check "a task that runs is running" grep -q "^share 1 (numbers 3 to 4): running since .* (job ${job6}_1)$" status.txt
scancel "$job6"
wait_for "$job6"
rm "$data6/scan_00003.raw" && cp "$work/ref/scan_00003.raw" "$data6/"
never="started, never ended: cancelled (job ${job6}_1 on $host)"
hedm-far-field-status >status.txt || true
check "once cancelled, the status names it as never ended" grep -qx "share 1 (numbers 3 to 4): $never" status.txt
check "and so does the merge" bash -c "hedm-merge-counts 2>&1 >/dev/null | grep -qx 'task 1 (numbers 3 to 4): no counts: $never'"
hedm-far-field-resume >resume.txt || true
check "and the resume, which submits it again, naming the log it left unfinished" \
  grep -qx "  share 1 (numbers 3 to 4): $never; it left logs/$job6/.panelpack_00000003.log.partial unfinished (never counted, removed when it is redone)" resume.txt
wait_for $(sed -n 's/^Submitted them as job \([0-9]*\) .*/\1/p' resume.txt)
check "then the run is complete" bash -c "hedm-far-field-status | grep -q '^All 2 shares completed'"

# --- 7. a deep stack in the memory a job is given --------------------------------
mkdir -p "$work/run7" && cd "$work/run7"
truncate -s $((8192 + 400 * 8388608)) deep.ge3  # sparse: no disk taken, read as zeros
job=$(sbatch --parsable --mem=100M --wrap "python3 -c 'x = bytearray(400 << 20); import time; time.sleep(4)'")
wait_for "$job"
check "memory is enforced: a job past its --mem is killed" \
  bash -c "scontrol show job $job | grep -qE 'JobState=(OUT_OF_MEMORY|FAILED|CANCELLED)'"
job=$(sbatch --parsable --mem=1G -c 2 --wrap "StackCollapse deep.ge3 median.ge3")
wait_for "$job"
cat slurm-"$job".out
check "a 400-frame collapse COMPLETED in --mem=1G" bash -c "scontrol show job $job | grep -q 'JobState=COMPLETED'"
check "its median is the zero frame" cmp -s median.ge3 <(head -c $((8192 + 8388608)) /dev/zero)

if command -v sacct >/dev/null; then
  echo "sacct --completion:"; sacct -c -n -o JobID,JobName,State,ExitCode 2>/dev/null | head -n 20 || true
fi

[ "$fail" -eq 0 ] && echo "slurm: 1 passed, 0 failed" || { echo "slurm: 0 passed, 1 failed"; exit 1; }
