# A private Slurm of several nodes on this machine, for the cluster tests
# and the kill benchmark: munged, slurmctld and one slurmd per node
# (slurmd -N NAME, each node with a port of its own), everything under one
# scratch folder, each daemon started here and stopped by its process id.
# Memory is accounted and enforced (a task past its --mem is killed,
# sampled every second), a node that stops answering is marked down within
# seconds, and a task on a lost node is not queued again by Slurm itself
# (JobRequeue=0), so that the commands' resume is what redoes it.
#   source tests/slurm_cluster.bash
#   trap slurm_stop EXIT
#   slurm_start WORK n1 n2 n3     # SLURM_CONF exported; squeue, sbatch ... work
# The daemons keep their files in WORK/slurm; jobs are submitted from
# folders below WORK (which is how their processes are known as this
# Slurm's).
#   slurm_lose_node PROGRAM JOB [NODE]   # a node lost while PROGRAM of JOB runs there
#   slurm_restart_node NODE
SLURM_PIDS=()
declare -A SLURM_NODE_PID=()
SLURM_WORK=""
slurm_helper=$(dirname "${BASH_SOURCE[0]}")/slurm_procs.py

slurm_stop() {
  local pid
  [ ${#SLURM_PIDS[@]} -gt 0 ] || return 0
  # The jobs first (a slurmstepd outlives its slurmd), then whatever of them
  # is left, then the daemons.
  scancel --quiet --full --user="$(id -un)" 2>/dev/null || true
  for _ in $(seq 25); do [ -n "$(squeue -h 2>/dev/null)" ] || break; sleep 0.2; done
  python3 "$slurm_helper" kill-all --work "$SLURM_WORK" || true
  for pid in "${SLURM_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${SLURM_PIDS[@]}"; do
    for _ in $(seq 20); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  done
  SLURM_PIDS=()
}

# slurm_free_port: a port with 4 free ones after it (nothing listens on
# 127.0.0.1 there), in REPLY.
slurm_free_port() {
  local port k busy
  for _ in $(seq 50); do
    port=$(( 20000 + RANDOM % 20000 )) busy=0
    for (( k = 0; k < 5; k++ )); do
      if (exec 3<>"/dev/tcp/127.0.0.1/$((port + k))") 2>/dev/null; then busy=1; break; fi
    done
    [ "$busy" -eq 1 ] || { REPLY=$port; return 0; }
  done
  return 1
}

slurm_start_node() {
  mkdir -p "$SLURM_WORK/slurm/spool-$1"
  slurmd -D -N "$1" -f "$SLURM_CONF" >"$SLURM_WORK/slurm/log/slurmd-$1.out" 2>&1 &
  SLURM_NODE_PID[$1]=$!
  SLURM_PIDS+=($!)
  disown $!  # killed on purpose at times: no word from the shell then
}

# slurm_wait_nodes STATE NODE...: until every NODE is in STATE (idle, down)
# as sinfo says; 1 after 60 seconds.
slurm_wait_nodes() {
  local state=$1 node all
  shift
  for _ in $(seq 300); do
    all=1
    for node in "$@"; do
      [[ $(sinfo -h -n "$node" -o %t 2>/dev/null) == "$state"* ]] || { all=0; break; }
    done
    [ "$all" -eq 0 ] || return 0
    sleep 0.2
  done
  return 1
}

slurm_start() {
  local work=$1 node port host k=1
  shift
  for cmd in munged slurmctld slurmd sbatch scontrol squeue sinfo; do
    command -v "$cmd" >/dev/null || { echo "slurm: $cmd is missing (apt-get install slurm-wlm munge)"; return 1; }
  done
  SLURM_WORK=$work
  work=$work/slurm
  mkdir -p "$work/munge" "$work/state" "$work/log"
  chmod 711 "$SLURM_WORK" "$work" "$work/munge"
  head -c 1024 /dev/urandom >"$work/munge/munge.key"
  chmod 400 "$work/munge/munge.key"
  munged -F -f --key-file="$work/munge/munge.key" --socket="$work/munge/socket" \
    --pid-file="$work/munge/pid" --log-file="$work/munge/log" --seed-file="$work/munge/seed" \
    >"$work/log/munged.out" 2>&1 &
  SLURM_PIDS+=($!)
  slurm_free_port || { echo "slurm: no free port found"; return 1; }
  port=$REPLY
  host=$(hostname -s)
  export SLURM_CONF="$work/slurm.conf"
  {
    cat <<CONF
ClusterName=hedmnodes
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$work/munge/socket
CredType=cred/munge
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool-%n
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd-%n.pid
SlurmctldLogFile=$work/log/slurmctld.log
SlurmdLogFile=$work/log/slurmd-%n.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/linux
JobAcctGatherParams=OverMemoryKill
JobAcctGatherFrequency=task=1
AccountingStorageType=accounting_storage/none
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_Core_Memory
DefMemPerCPU=256
MpiDefault=none
ReturnToService=2
MinJobAge=3600
SlurmdTimeout=5
KillWait=2
JobRequeue=0
CONF
    for node in "$@"; do
      echo "NodeName=$node NodeHostname=$host NodeAddr=127.0.0.1 Port=$((port + k)) CPUs=1 RealMemory=1000 State=UNKNOWN"
      k=$((k + 1))
    done
    echo "PartitionName=debug Nodes=ALL Default=YES MaxTime=INFINITE State=UP"
  } >"$SLURM_CONF"
  for _ in $(seq 50); do [ -S "$work/munge/socket" ] && break; sleep 0.1; done
  slurmctld -D -f "$SLURM_CONF" >"$work/log/slurmctld.out" 2>&1 &
  SLURM_PIDS+=($!)
  for node in "$@"; do slurm_start_node "$node"; done
  if ! slurm_wait_nodes idle "$@"; then
    echo "slurm: the nodes $* did not come up on this machine:"
    sinfo 2>&1 || true
    tail -n 5 "$work"/log/*.out "$work"/log/*.log 2>/dev/null || true
    return 1
  fi
}

# slurm_lose_node PROGRAM JOB [NODE]: once PROGRAM (a process name) of the
# job JOB runs on a node (NODE, or any), that node is lost: its slurmd and
# every process of its jobs (their slurmstepd and all below) stopped, then
# killed, by process id.  Prints what was killed; the node's name in REPLY.
slurm_lose_node() {
  local program=$1 job=$2 node=${3:-} pairs="" n said
  for n in "${!SLURM_NODE_PID[@]}"; do pairs+="${pairs:+,}$n=${SLURM_NODE_PID[$n]}"; done
  said=$(python3 "$slurm_helper" lose-node --work "$SLURM_WORK" --slurmd "$pairs" \
    --program "$program" --job "$job" ${node:+--node "$node"}) || { echo "$said"; return 1; }
  echo "$said"
  REPLY=$(sed -n 's/^node \([^:]*\):.*/\1/p' <<<"$said" | head -n 1)
}

# slurm_restart_node NODE: its slurmd started again; returns once the node
# serves again (Slurm takes a down node back when it registers).
slurm_restart_node() {
  slurm_start_node "$1"
  slurm_wait_nodes idle "$1"
}

# slurm_wait JOB...: until none of the jobs is pending or running (three
# minutes at most).
slurm_wait() {
  for _ in $(seq 900); do
    [ -n "$(squeue -h -j "$(IFS=,; echo "$*")" 2>/dev/null)" ] || return 0
    sleep 0.2
  done
  echo "jobs $* did not end in time"
  squeue
  return 1
}
