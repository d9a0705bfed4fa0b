#!/usr/bin/env bash
# The far-field reduction on a real single-node Slurm: munged, slurmctld and
# slurmd started here under a scratch folder (stopped by process id whatever
# the outcome), the commands installed into a scratch prefix, then
#  1. hedm-far-field-submit: two dark stacks collapsed by one array, then the
#     far-field array after it; every output and the merged counts compared
#     byte for byte with a single-process run;
#  2. an array with one input missing: that task FAILED in Slurm's records,
#     the others COMPLETED, and the merge refuses the run;
#  3. an array that does not start at 0: every task FAILED.
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
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/filetxt
JobCompLoc=$work/log/jobcomp.txt
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
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

# --- 1. the whole reduction as one submission ---------------------------------
cd "$work/run"
printf '%s %s\n' "$work/run/data/dark_a.ge3" "$work/run/data/dark_a_median.ge3" \
  "$work/run/data/dark_b.ge3" "$work/run/data/dark_b_median.ge3" >darks.txt
t0=$(date +%s.%N)
said=$(hedm-far-field-submit darks.txt 5 "$work/run/data" scan 1 12 dark_a_median.ge3 14000)
echo "$said"
jobs=$(grep -o 'job [0-9]*' <<<"$said" | awk '{print $2}' | tr '\n' ' ')
wait_for $jobs
echo "the reduction took $(python3 -c "print(round($(date +%s.%N) - $t0, 1))") s in Slurm"
read -r darkJob farJob <<<"$jobs"
check "every dark task COMPLETED" test "$(states "$darkJob" | awk '{print $2}' | sort -u)" = COMPLETED
check "every far-field task COMPLETED" test "$(states "$farJob" | awk '{print $2}' | sort -u)" = COMPLETED
check "5 far-field tasks ran" test "$(states "$farJob" | wc -l)" -eq 5
check "each task's last line says COMPLETED" \
  test "$(tail -q -n 1 hedm-far-field_"$farJob"_*.out hedm-dark_"$darkJob"_*.out | grep -c COMPLETED)" -eq 7
same=1
for f in "$work"/ref/*.ge3; do cmp -s "$f" "data/$(basename "$f")" || { echo "differs: $(basename "$f")"; same=0; }; done
check "every frame file and median identical to the single-process run" test "$same" -eq 1
hedm-merge-counts logs >merged.txt 2>merge.err
# The same lines but for the folder named in them.
check "merged counts identical to one ClipCount run" \
  cmp -s <(sed "s|$work/run/data|DATA|" merged.txt) <(sed -e '1d' -e '$d' -e "s|$work/ref|DATA|" "$work/ref/clipcount.txt")
if [ -s "$work/log/jobcomp.txt" ] && command -v sacct >/dev/null; then
  echo "sacct --completion:"; sacct -c -n -o JobID,JobName,State,ExitCode 2>/dev/null | head -n 12 || true
fi

# --- 2. one input missing ----------------------------------------------------
mkdir -p "$work/run2/data" && cd "$work/run2"
cp "$work"/ref/scan_*.raw "$work/ref/dark_a_median.ge3" data/
rm data/scan_00007.raw
job=$(sbatch --parsable --array=0-3 "$prefix/bin/hedm-slurm-far-field" "$work/run2/data" scan 1 12 dark_a_median.ge3 14000)
wait_for "$job"
states "$job"
check "the task of number 7 FAILED with exit code 1" test "$(states "$job" | awk '$1 == 2 {print $2, $3}')" = "FAILED 1:0"
check "the other tasks COMPLETED" test "$(states "$job" | awk '$1 != 2 {print $2}' | sort -u)" = COMPLETED
check "its log names the missing image" grep -q "FAILED: PanelPack: Could not read $work/run2/data/scan_00007.raw" hedm-far-field_"$job"_2.out
check "the merge refuses the run" bash -c '! hedm-merge-counts logs >/dev/null 2>merge.err'
if command -v sacct >/dev/null; then
  echo "sacct --completion, the run with an image missing:"
  sacct -c -n -o JobID,JobName,State,ExitCode 2>/dev/null | awk -v j="$job" '$1 >= j' || true
fi
check "the merge names the gap" grep -q "numbers 7 to 9: no log" merge.err

# --- 3. an array that skips task 0 -------------------------------------------
mkdir -p "$work/run3" && cd "$work/run3"
job=$(sbatch --parsable --array=1-4 "$prefix/bin/hedm-slurm-far-field" "$work/run2/data" scan 1 12 dark_a_median.ge3 14000)
wait_for "$job"
check "every task of --array=1-4 FAILED" test "$(states "$job" | awk '{print $2}' | sort -u)" = FAILED
check "and says why" grep -q "it must be --array=0-3" hedm-far-field_"$job"_1.out

[ "$fail" -eq 0 ] && echo "slurm: 1 passed, 0 failed" || { echo "slurm: 0 passed, 1 failed"; exit 1; }
