# Shell functions the cluster commands share.  The build pastes this text
# into every command in place of its HEDM_CLUSTER_COMMON line rather than
# having the commands source it: sbatch spools a copy of a job script and
# runs the copy on a node, where no file beside the script can be found,
# so an installed command, job script or not, must stand alone.
#
# How a function hands back what it finds, one way each, as its comment
# says: a single value in REPLY (read it at once, the next call overwrites
# it); a list printed, an item a line, and hedm_share's pair of numbers
# printed on one; more than one value (Slurm's word on a job, what a killed
# share left) in the HEDM_* variables that the comments of hedm_slurm_job,
# hedm_job_ending, hedm_leftovers and hedm_queued name.  The checks
# (hedm_far_field_checks, hedm_missing_images, hedm_dark_list_checks) take
# everything they look at as arguments, print one line per failed check
# and return 1 when any failed.  Messages go to standard output.

# hedm_number COMMAND WHAT TEXT: reads TEXT as a whole number into REPLY.
# Apart from white space around it, TEXT must be an optional sign and
# decimal digits, or a decimal spelling (a point, an exponent) whose value
# is exactly a whole number ("14000.0", "1.4e4"), within the signed 32-bit
# range.  Anything else ("14k", "1x", "", "0x10", "nan") prints
# 'COMMAND: WHAT "TEXT" is not a whole number.' and returns 1.
hedm_number() {
  local cmd=$1 what=$2 text=$3 s digits exp edigits
  s=${text#"${text%%[![:space:]]*}"}
  s=${s%"${s##*[![:space:]]}"}
  local re='^([+-]?)([0-9]*)(\.([0-9]*))?([eE]([+-]?)([0-9]+))?$'
  if ! [[ $s =~ $re ]] || [ -z "${BASH_REMATCH[2]}${BASH_REMATCH[4]}" ]; then
    echo "$cmd: $what \"$text\" is not a whole number."
    return 1
  fi
  local negative=${BASH_REMATCH[1]} fraction=${BASH_REMATCH[4]}
  digits=${BASH_REMATCH[2]}$fraction
  edigits=${BASH_REMATCH[7]:-0}
  edigits=${edigits#"${edigits%%[!0]*}"}
  # An exponent of ten digits or more makes any non-zero value leave the range.
  [ ${#edigits} -le 9 ] || edigits=999999999
  exp=$(( ${BASH_REMATCH[6]}10#${edigits:-0} - ${#fraction} ))
  digits=${digits#"${digits%%[!0]*}"}
  if [ -z "$digits" ]; then
    REPLY=0
    return 0
  fi
  while [ "${digits: -1}" = 0 ]; do digits=${digits%0}; exp=$((exp + 1)); done
  if [ "$exp" -lt 0 ]; then
    echo "$cmd: $what \"$text\" is not a whole number."
    return 1
  fi
  local value=-1
  if [ $(( ${#digits} + exp )) -le 10 ]; then
    value=$(( 10#$digits * 10 ** exp ))
    [ "$negative" != - ] || value=$(( -value ))
  fi
  if [ $(( ${#digits} + exp )) -gt 10 ] || [ "$value" -lt -2147483648 ] || [ "$value" -gt 2147483647 ]; then
    echo "$cmd: $what \"$text\" is outside -2147483648 to 2147483647."
    return 1
  fi
  REPLY=$value
}

# hedm_dark_path FOLDER DARK: the dark file ClipCount reads, in REPLY: a
# name beginning with "/" is the path itself, any other is inside FOLDER.
hedm_dark_path() {
  case $2 in
    /*) REPLY=$2 ;;
    *) REPLY=$1/$2 ;;
  esac
}

# hedm_share START END STEP I N: share I of N of START, START+STEP, ... END
# as "first last" (nothing for a share with no number).  The first shares
# are one number longer when the count does not divide evenly.
hedm_share() {
  local start=$1 end=$2 step=$3 i=$4 n=$5
  (( end < start )) && return 0
  local count=$(( (end - start) / step + 1 ))
  local per=$(( count / n )) extra=$(( count % n ))
  local first=$(( i * per + (i < extra ? i : extra) ))
  local size=$(( per + (i < extra ? 1 : 0) ))
  (( size > 0 )) || return 0
  echo "$(( start + first * step )) $(( start + (first + size - 1) * step ))"
}

# hedm_cpu_list LIST: a CPU list such as "0-3,8" expanded into REPLY,
# one number per word.
hedm_cpu_list() {
  local part cpus=""
  for part in ${1//,/ }; do
    if [[ $part == *-* ]]; then
      cpus+=" $(seq -s ' ' "${part%-*}" "${part#*-}")"
    else
      cpus+=" $part"
    fi
  done
  REPLY=${cpus# }
}

# hedm_keep_to_task_cpus: keeps this shell, and so every program it starts,
# to the number of CPUs Slurm gave the task (SLURM_CPUS_PER_TASK, 1 when
# unset).  A Slurm that binds tasks (task/affinity, task/cgroup) has done so
# already; one that does not (task/none) leaves every CPU of the node
# allowed, and a program sizing its threads by its affinity would take them
# all.  Then the mask is cut to the CPUs Slurm allotted the job on this node
# where it says which (scontrol's CPU_IDs), else to as many CPUs of the
# allowed ones, chosen by task number so that tasks side by side spread.
# Prints one line saying which CPUs the task runs on.
hedm_keep_to_task_cpus() {
  local want=${SLURM_CPUS_PER_TASK:-1} allowed given c keep=()
  hedm_cpu_list "$(sed -n 's/^Cpus_allowed_list:[[:space:]]*//p' /proc/self/status)"
  read -r -a allowed <<<"$REPLY"
  if [ ${#allowed[@]} -gt "$want" ]; then
    given=$(scontrol show job -d "${SLURM_JOB_ID:-}" 2>/dev/null | grep -o -m 1 'CPU_IDs=[-0-9,]*' | cut -d= -f2 || true)
    if [ -n "$given" ]; then
      hedm_cpu_list "$given"
      for c in $REPLY; do
        [[ " ${allowed[*]} " == *" $c "* ]] && keep+=("$c")
      done
    fi
    if [ ${#keep[@]} -ne "$want" ]; then
      keep=()
      local from=$(( (${SLURM_ARRAY_TASK_ID:-0} * want) % ${#allowed[@]} ))
      for (( c = 0; c < want; c++ )); do keep+=("${allowed[(from + c) % ${#allowed[@]}]}"); done
    fi
    local list=${keep[*]}
    taskset -p -c "${list// /,}" $$ >/dev/null
  fi
  echo "CPUs: $(sed -n 's/^Cpus_allowed_list:[[:space:]]*//p' /proc/self/status) ($(nproc) of $(nproc --all) on $(hostname -s), $want per task)."
}

# hedm_quote ARG...: the arguments as one line that bash reads back into the
# same words (printf %q), for records compared and re-read later.
hedm_quote() {
  local line=""
  [ $# -eq 0 ] || printf -v line '%q ' "$@"
  REPLY=${line% }
}

# hedm_words LINE: the words of a line that hedm_quote wrote, read back as
# data into the array REPLY_WORDS: nothing in it is run or expanded, so a
# record edited by hand can at worst be refused.  A word is made of plain
# characters, backslash-escaped ones, '...' and $'...' (with the escapes
# printf %q writes: \n \t \E ..., \NNN, \xHH).  Returns 1, the reason in
# REPLY, for what hedm_quote never writes: a quote not closed, an unknown
# escape, a NUL byte, or an unquoted character the shell would read as code
# or a pattern ($ ` " ( ) ; & | < > * ? [ ] { } !, control characters).
hedm_words() {
  local s=$1 i=0 n=${#1} c word="" inword=0 rest part code ch
  REPLY_WORDS=()
  while (( i < n )); do
    c=${s:i:1}
    if [ "$c" = ' ' ] || [ "$c" = $'\t' ]; then
      (( inword == 0 )) || REPLY_WORDS+=("$word")
      word="" inword=0 i=$((i + 1))
      continue
    fi
    inword=1
    if [ "$c" = '\' ]; then
      (( i + 1 < n )) || { REPLY="a backslash ends the line"; return 1; }
      word+=${s:i+1:1} i=$((i + 2))
    elif [ "$c" = "'" ]; then
      rest=${s:i+1}
      [[ $rest == *"'"* ]] || { REPLY="a quote is not closed"; return 1; }
      part=${rest%%"'"*}
      word+=$part i=$((i + ${#part} + 2))
    elif [ "${s:i:2}" = "\$'" ]; then
      i=$((i + 2))
      while :; do
        (( i < n )) || { REPLY="a quote is not closed"; return 1; }
        c=${s:i:1}
        if [ "$c" = "'" ]; then i=$((i + 1)); break; fi
        if [ "$c" != '\' ]; then word+=$c i=$((i + 1)); continue; fi
        rest=${s:i+1:3}
        case $rest in
          [abefnrtvE]*) printf -v ch "\\${rest:0:1}"; i=$((i + 2)) ;;
          [\\\'\"?]*) ch=${rest:0:1} i=$((i + 2)) ;;
          [0-7]*)
            [[ $rest =~ ^[0-7]{1,3} ]]
            code=${BASH_REMATCH[0]}
            (( 8#$code > 0 && 8#$code < 256 )) || { REPLY="the escape \\$code is no byte of a word"; return 1; }
            printf -v ch "\\$code"
            i=$((i + 1 + ${#code})) ;;
          x[0-9A-Fa-f]*)
            [[ ${s:i+2:2} =~ ^[0-9A-Fa-f]{1,2} ]]
            code=${BASH_REMATCH[0]}
            (( 16#$code > 0 )) || { REPLY="the escape \\x$code is no byte of a word"; return 1; }
            printf -v ch "\\x$code"
            i=$((i + 2 + ${#code})) ;;
          *) REPLY="the escape \\${rest:0:1} is not one printf %q writes"; return 1 ;;
        esac
        word+=$ch
      done
    else
      case $c in
        [\$\`\"\(\)\;\&\|\<\>\*\?\[\]\{\}\!] | [[:cntrl:]])
          printf -v c '%q' "$c"
          REPLY="the character $c stands unquoted"
          return 1 ;;
      esac
      word+=$c i=$((i + 1))
    fi
  done
  (( inword == 0 )) || REPLY_WORDS+=("$word")
  return 0
}

# hedm_whole TEXT: whether TEXT is a whole number as the commands record
# them (hedm_number's REPLY: digits, a minus sign, no leading zero), within
# the signed 32-bit range.
hedm_whole() {
  [[ $1 =~ ^-?(0|[1-9][0-9]{0,9})$ ]] && (( $1 >= -2147483648 && $1 <= 2147483647 ))
}

# hedm_record_arguments FILE COUNT: the "arguments:" line of a run record
# (COUNT 7: folder stem first last dark saturation shares) or of a share
# record (COUNT 6, without shares), read as data and checked, in the array
# RECORD_ARGS.  Returns 1, with the reason in REPLY, for a record that names
# no arguments, cannot be read as data, or holds values these commands never
# write (another count, an empty folder, stem or dark, numbers that are not
# whole, a range that holds no number, no share).
hedm_record_arguments() {
  local file=$1 count=$2 k
  RECORD_ARGS=()
  hedm_record_value "$file" arguments || { REPLY="$file names no arguments."; return 1; }
  hedm_words "$REPLY" ||
    { REPLY="$file: its arguments line is not as these commands write it ($REPLY); nothing of it is used."; return 1; }
  if [ ${#REPLY_WORDS[@]} -ne "$count" ]; then
    REPLY="$file does not hold the $count arguments of a $([ "$count" -eq 7 ] && echo run || echo share)."
    return 1
  fi
  for k in 0 1 4; do
    [ -n "${REPLY_WORDS[k]}" ] || { REPLY="$file: its arguments hold an empty $(
      case $k in 0) echo folder ;; 1) echo stem ;; *) echo dark ;; esac) name."; return 1; }
  done
  for k in 2 3 5 ${REPLY_WORDS[6]+6}; do
    hedm_whole "${REPLY_WORDS[k]}" ||
      { REPLY="$file: its arguments hold \"${REPLY_WORDS[k]}\" where a whole number belongs."; return 1; }
  done
  (( REPLY_WORDS[2] <= REPLY_WORDS[3] )) ||
    { REPLY="$file: its arguments hold the range ${REPLY_WORDS[2]} to ${REPLY_WORDS[3]}, which holds no number."; return 1; }
  (( count != 7 || REPLY_WORDS[6] >= 1 )) ||
    { REPLY="$file: its arguments hold ${REPLY_WORDS[6]} shares."; return 1; }
  RECORD_ARGS=("${REPLY_WORDS[@]}")
}

# hedm_record_value FILE KEY: the value of the last "KEY: value" line of
# FILE in REPLY; returns 1 when there is none.
hedm_record_value() {
  local line
  line=$(grep "^$2: " "$1" 2>/dev/null | tail -n 1)
  [ -n "$line" ] || return 1
  REPLY=${line#"$2: "}
}

# hedm_runs LOGS: the job ids naming the run folders below LOGS (those with
# a run record), in ascending order, one per line.
hedm_runs() {
  local d
  for d in "$1"/*/run.txt; do
    d=${d%/run.txt}
    d=${d##*/}
    [[ $d =~ ^[0-9]+$ ]] && echo "$d"
  done | sort -n
}

# hedm_find_run LOGS ARGUMENTS: the run folder below LOGS (LOGS/<job id>)
# whose record holds these job-script arguments, in REPLY; the most recent
# when there are several.  Returns 1 when there is none.
hedm_find_run() {
  local logs=$1 args=$2 run found=""
  for run in $(hedm_runs "$logs"); do
    if hedm_record_value "$logs/$run/run.txt" arguments && [ "$REPLY" = "$args" ]; then
      found=$logs/$run
    fi
  done
  [ -n "$found" ] || return 1
  REPLY=$found
}

# hedm_last_run LOGS: the run folder below LOGS started last (the highest
# job id with a run record), in REPLY; returns 1 when there is none.
hedm_last_run() {
  local run
  run=$(hedm_runs "$1" | tail -n 1)
  [ -n "$run" ] || return 1
  REPLY=$1/$run
}

# Runs on one machine (GNU parallel, xargs) keep their logs in a folder of
# their own too, LOGS/run_NNNN, numbered from 0001 on, so that a later run
# never writes over an earlier one's logs.
#
# hedm_local_runs LOGS: the numbers of those run folders, ascending, one per line.
hedm_local_runs() {
  local d
  for d in "$1"/run_[0-9]*/; do
    d=${d%/}
    d=${d##*/run_}
    [[ $d =~ ^[0-9]+$ ]] && echo "$((10#$d))"
  done | sort -n
}

# hedm_last_local_run LOGS: the last of them (the highest number) in REPLY;
# returns 1 when there is none.
hedm_last_local_run() {
  local n
  n=$(hedm_local_runs "$1" | tail -n 1)
  [ -n "$n" ] || return 1
  printf -v REPLY '%s/run_%04d' "$1" "$n"
}

# hedm_new_local_run LOGS: a new run folder below LOGS, numbered on from the
# last, made (mkdir makes only one of two runs that start at once the owner
# of a number), in REPLY.  Returns 1 with the reason in REPLY.
hedm_new_local_run() {
  local logs=$1 n dir
  mkdir -p -- "$logs" 2>/dev/null || { REPLY="$logs cannot be made: the logs go there."; return 1; }
  n=$(hedm_local_runs "$logs" | tail -n 1)
  n=$(( ${n:-0} + 1 ))
  while :; do
    printf -v dir '%s/run_%04d' "$logs" "$n"
    mkdir -- "$dir" 2>/dev/null && break
    [ -e "$dir" ] || { REPLY="$dir cannot be made: $logs is not writable."; return 1; }
    n=$((n + 1))
  done
  REPLY=$dir
}

# The words for a task or share whose record says it started and that ended
# without saying how: nothing of it runs any more.
HEDM_NEVER_ENDED="started, never ended: cancelled, killed, out of time or its node lost"

# How a Slurm task that started came to stop without saying so itself, as
# its Slurm output tells it (slurmstepd writes there why it killed the
# task: "... DUE TO TIME LIMIT", "... exceeded memory limit (USED >
# LIMIT), being killed") and as Slurm does (scontrol while the controller
# still holds the job, else sacct where accounting is kept).

# hedm_slurm_job JOB: Slurm's word on a job or an array task ("4711_3"), in
# the associative array HEDM_JOB (JobState, Reason, TimeLimit, NodeList,
# MinMemoryNode, MinMemoryCPU, NumCPUs, ExitCode, StdOut: those Slurm
# gives).  Returns 1 when neither scontrol nor sacct knows the job.
declare -A HEDM_JOB=()
hedm_slurm_job() {
  local job=$1 line key k
  HEDM_JOB=()
  [[ $job =~ ^[0-9]+(_[0-9]+)?$ ]] || return 1
  if command -v scontrol >/dev/null; then
    line=$(scontrol show job -o "$job" 2>/dev/null | head -n 1) || line=""
    if [[ $line == JobId=* ]]; then
      for key in JobState Reason TimeLimit NodeList MinMemoryNode MinMemoryCPU NumCPUs ExitCode StdOut; do
        [[ " $line" =~ \ $key=([^ ]*) ]] && HEDM_JOB[$key]=${BASH_REMATCH[1]}
      done
      return 0
    fi
  fi
  command -v sacct >/dev/null || return 1
  line=$(sacct -n -P -X -j "$job" -o State,Reason,Timelimit,NodeList,ReqMem,ExitCode 2>/dev/null | head -n 1) || line=""
  [ -n "$line" ] || return 1
  IFS='|' read -r -a k <<<"$line"
  HEDM_JOB=([JobState]=${k[0]%% *} [Reason]=${k[1]:-} [TimeLimit]=${k[2]:-} [NodeList]=${k[3]:-}
    [MinMemoryNode]=${k[4]:-} [ExitCode]=${k[5]:-})
}

# hedm_slurm_seconds TEXT: a Slurm time limit (minutes, minutes:seconds,
# hours:minutes:seconds, days-hours, days-hours:minutes,
# days-hours:minutes:seconds; "UNLIMITED", "INFINITE") in seconds in REPLY,
# -1 for no limit.  Returns 1 for anything else.
hedm_slurm_seconds() {
  local t=$1 d=0 h=0 m=0 s=0 n='([0-9]{1,7})'
  case ${t,,} in unlimited | infinite) REPLY=-1; return 0 ;; esac
  if [[ $t =~ ^$n-$n(:$n(:$n)?)?$ ]]; then
    d=${BASH_REMATCH[1]} h=${BASH_REMATCH[2]} m=${BASH_REMATCH[4]:-0} s=${BASH_REMATCH[6]:-0}
  elif [[ $t =~ ^$n:$n:$n$ ]]; then
    h=${BASH_REMATCH[1]} m=${BASH_REMATCH[2]} s=${BASH_REMATCH[3]}
  elif [[ $t =~ ^$n(:$n)?$ ]]; then
    m=${BASH_REMATCH[1]} s=${BASH_REMATCH[3]:-0}
  else
    return 1
  fi
  REPLY=$(( ((10#$d * 24 + 10#$h) * 60 + 10#$m) * 60 + 10#$s ))
}

# hedm_slurm_time SECONDS: SECONDS as Slurm writes a time limit
# ([days-]hours:minutes:seconds), in REPLY.
hedm_slurm_time() {
  local t=$1 d
  d=$(( t / 86400 )) t=$(( t % 86400 ))
  printf -v REPLY '%02d:%02d:%02d' $(( t / 3600 )) $(( t / 60 % 60 )) $(( t % 60 ))
  (( d == 0 )) || REPLY=$d-$REPLY
}

# hedm_slurm_mib TEXT: a Slurm memory size ("64M", "1G", "2048", as --mem
# takes it: MiB without a unit) in whole MiB, rounded up, in REPLY.
# Returns 1 for anything else.
hedm_slurm_mib() {
  [[ $1 =~ ^([0-9]{1,12})([KkMmGgTt]?)$ ]] || return 1
  local n=$((10#${BASH_REMATCH[1]}))
  case ${BASH_REMATCH[2],,} in
    k) REPLY=$(( (n + 1023) / 1024 )) ;;
    g) REPLY=$(( n * 1024 )) ;;
    t) REPLY=$(( n * 1048576 )) ;;
    *) REPLY=$n ;;
  esac
}

# The memory a far-field share needs, in MiB: PanelPack's float image and
# frame (about 20 MiB), or ClipCount's frame and dark (about 11 MiB and a
# frame), and the two shells of the task, with room to spare; the job
# script asks for as much by default (#SBATCH --mem=64M).
HEDM_SHARE_MIB=64

# hedm_job_ending JOB OUTPUT [NODE]: how the Slurm job or array task JOB,
# whose output file is OUTPUT (Slurm's StdOut where that is not a file),
# came to stop, in REPLY: "out of time (its limit 00:01:00; job 4711_3 on
# n1)", "killed for memory (it had used 35 MiB of its 20 MiB; ...)", "its
# node n2 lost (...)", "cancelled (...)", "preempted (...)", "killed by
# signal 9 (...)"; with NODE (the node the task ran on, from its record),
# "its node n2 is down (...)" when nothing else tells and the node is down
# now.  HEDM_ENDING holds the kind (time, memory, node, cancelled,
# preempted, signal), HEDM_ENDING_NODE the node, HEDM_ENDING_LIMIT the time
# limit in seconds or the memory limit in MiB, HEDM_ENDING_USED the memory
# used in MiB (each empty where not known).  Returns 1 when nothing tells.
hedm_job_ending() {
  local job=$1 output=$2 state exit text="" node where used="" limit=""
  HEDM_ENDING="" HEDM_ENDING_NODE="" HEDM_ENDING_LIMIT="" HEDM_ENDING_USED=""
  hedm_slurm_job "$job" || true
  [ -f "$output" ] || output=${HEDM_JOB[StdOut]:-}
  [ -z "$output" ] || [ ! -f "$output" ] ||
    text=$(grep -a -E 'memory limit|oom-kill|CANCELLED AT|DUE TO' "$output" 2>/dev/null | tail -n 20 || true)
  state=${HEDM_JOB[JobState]:-} exit=${HEDM_JOB[ExitCode]:-}
  node=${HEDM_JOB[NodeList]:-${3:-}}
  [[ $node != "(null)" && $node != None* ]] || node=${3:-}
  where="job $job${node:+ on $node}"
  if [[ $text == *"exceeded memory limit"* || $text == *"Exceeded job memory limit"* || $text == *oom-kill* ||
        $state == OUT_OF_MEMORY ]]; then
    HEDM_ENDING=memory
    if [[ $text =~ exceeded\ memory\ limit\ \(([0-9]{1,15})\ \>\ ([0-9]{1,15})\) ]]; then
      used=$(( (BASH_REMATCH[1] + 1048575) / 1048576 )) limit=$(( (BASH_REMATCH[2] + 1048575) / 1048576 ))
    elif hedm_slurm_mib "${HEDM_JOB[MinMemoryNode]:-}"; then
      limit=$REPLY
    fi
    HEDM_ENDING_USED=$used HEDM_ENDING_LIMIT=$limit
    if [ -n "$used" ]; then
      REPLY="killed for memory (it had used $used MiB of its $limit MiB; $where)"
    else
      REPLY="killed for memory (${limit:+its limit $limit MiB; }$where)"
    fi
  elif [[ $text == *"DUE TO TIME LIMIT"* || $state == TIMEOUT ]]; then
    HEDM_ENDING=time
    limit=${HEDM_JOB[TimeLimit]:-}
    hedm_slurm_seconds "$limit" && HEDM_ENDING_LIMIT=$REPLY || limit=""
    REPLY="out of time (${limit:+its limit $limit; }$where)"
  elif [[ $text == *"DUE TO NODE FAILURE"* || $state == NODE_FAIL || $state == BOOT_FAIL ]]; then
    HEDM_ENDING=node HEDM_ENDING_NODE=$node
    REPLY="its node${node:+ $node} lost (job $job${state:+; Slurm: $state})"
  elif [[ $text == *"DUE TO PREEMPTION"* || $state == PREEMPTED ]]; then
    HEDM_ENDING=preempted
    REPLY="preempted ($where)"
  elif [[ $text == *"CANCELLED AT"* || $state == CANCELLED* ]]; then
    HEDM_ENDING=cancelled
    REPLY="cancelled ($where)"
  elif [[ $state == FAILED && $exit =~ ^[0-9]+:([1-9][0-9]*)$ ]]; then
    HEDM_ENDING=signal
    REPLY="killed by signal ${BASH_REMATCH[1]} ($where)"
  elif [ -n "${3:-}" ] && command -v sinfo >/dev/null &&
       [[ $(sinfo -h -n "$3" -o %T 2>/dev/null) == down* ]]; then
    HEDM_ENDING=node HEDM_ENDING_NODE=$3
    REPLY="its node $3 is down ($where)"
  else
    return 1
  fi
}

# hedm_task_ending RECORD: hedm_job_ending for the task whose record
# (task_NNNN.txt) this is, by its "job:", "output:" and "node:" lines (the
# output by its default name in this folder where the record names none).
# Returns 1 when the record names no job or nothing tells.
hedm_task_ending() {
  local job output="" node=""
  hedm_record_value "$1" job || return 1
  job=$REPLY
  [[ $job =~ ^[0-9]+_[0-9]+$ ]] || return 1
  hedm_record_value "$1" output && output=$REPLY || output=hedm-far-field_$job.out
  hedm_record_value "$1" node && node=$REPLY
  hedm_job_ending "$job" "$output" "$node"
}

# hedm_leftovers FOLDER STEM FIRST LAST LOGS: what a killed attempt at the
# share FIRST to LAST can leave behind, in the array HEDM_LEFTOVERS:
# frame files PanelPack had not finished, in hidden temporary names beside
# the frames (".scan_00007.ge3.Ab12Cd", where the file system makes no
# unnamed files), and the share's logs not finished, in LOGS
# (".clipcount_NNNNNNNN.log.partial").  Nothing reads them as frames or
# counts; the share removes them when it is redone.
hedm_leftovers() {
  local folder=$1 stem=$2 first=$3 last=$4 logs=$5 f middle n tag
  HEDM_LEFTOVERS=()
  printf -v tag '%08d' "$first"
  for f in "$logs/.panelpack_$tag.log.partial" "$logs/.clipcount_$tag.log.partial"; do
    [ ! -e "$f" ] || HEDM_LEFTOVERS+=("$f")
  done
  for f in "$folder/.${stem}_"*".ge3."??????; do
    [ -e "$f" ] || continue
    middle=${f#"$folder/.${stem}_"}
    middle=${middle%.ge3.*}
    [[ ${f##*.ge3.} =~ ^[A-Za-z0-9]{6}$ && $middle =~ ^-?[0-9]{1,10}$ ]] || continue
    if [[ $middle == -* ]]; then n=$(( -10#${middle#-} )); else n=$(( 10#$middle )); fi
    (( n >= first && n <= last )) || continue
    [ "$(printf '%05d' "$n")" = "$middle" ] && HEDM_LEFTOVERS+=("$f")
  done
  return 0
}

# hedm_running RECORD: whether the process that wrote RECORD's "process: PID
# on HOST" line still runs (on this host, as hedm-far-field-share).
hedm_running() {
  local pid host
  hedm_record_value "$1" process || return 1
  pid=${REPLY%% on *} host=${REPLY#* on }
  [[ $pid =~ ^[0-9]+$ ]] && [ "$host" = "$(hostname)" ] || return 1
  [ -r "/proc/$pid/cmdline" ] && tr '\0' ' ' 2>/dev/null <"/proc/$pid/cmdline" | grep -q 'hedm-far-field-share'
}

# hedm_latest_state RECORD [QUEUED]: how the latest attempt that RECORD
# (a task's or a share's) tells of stands, in REPLY: its COMPLETED or FAILED
# line; "running since DATE" (QUEUED says RUNNING, or its process still
# runs here); for a start without an end, "started, never ended: " and how
# it stopped where Slurm or the task's output tells (hedm_task_ending),
# else HEDM_NEVER_ENDED.  QUEUED (a Slurm
# state and job, as hedm_queued gives them) of a task queued again is put
# before the record's state.  Returns 1 when there is no record (REPLY
# then says how it is queued, or is empty).
hedm_latest_state() {
  local record=$1 queued=${2:-} state
  if ! hedm_record_value "$record" state; then
    REPLY=""
    [ -z "$queued" ] || REPLY="queued (${queued,,})"
    return 1
  fi
  state=$REPLY
  if [[ $state == STARTED* ]]; then
    if [[ $queued == RUNNING* ]]; then
      REPLY="running since ${state#STARTED } (${queued#RUNNING })"
    elif hedm_running "$record"; then
      REPLY="running since ${state#STARTED }"
    else
      hedm_task_ending "$record" && state="started, never ended: $REPLY" || state=$HEDM_NEVER_ENDED
      if [ -n "$queued" ]; then
        REPLY="queued again (${queued,,}); its last attempt $state"
      else
        REPLY=$state
      fi
    fi
  elif [ -n "$queued" ]; then
    REPLY="queued again (${queued,,}); its last attempt: $state"
  else
    REPLY=$state
  fi
}

# hedm_run_jobs RUN: the Slurm jobs a run's records name (its own, the
# dark job, the resubmissions, each task's), one per line.
hedm_run_jobs() {
  cat "$1"/run.txt "$1"/submit.txt "$1"/task_*.txt 2>/dev/null | sed -n -E 's/^jobs?: //p' |
    tr ' ' '\n' | sed 's/_.*//' | grep -E '^[0-9]+$' | sort -u || true
}

# hedm_queued RUN: the run's far-field array tasks that Slurm still holds
# (pending or running), from squeue, in the associative array HEDM_QUEUED:
# share number -> "STATE job JOB_TASK".  Empty where squeue is not there.
declare -A HEDM_QUEUED=()
hedm_queued() {
  local jobs job task state command
  HEDM_QUEUED=()
  command -v squeue >/dev/null || return 0
  jobs=" $(hedm_run_jobs "$1" | tr '\n' ' ') "
  while read -r job task state command; do
    [[ $jobs == *" $job "* && $task =~ ^[0-9]+$ && " $command " =~ [/\ ]hedm-slurm-far-field\  ]] || continue
    HEDM_QUEUED[$task]="$state job ${job}_$task"
  done < <(squeue -h -r -o '%F %K %T %o' 2>/dev/null || true)
}

# hedm_far_field_checks [--no-images] BIN FOLDER STEM FIRST LAST DARK
# DARK_MEDIANS...: what a far-field run needs before it is queued, the
# programs looked for in BIN.  DARK (as ClipCount takes it) must be one of
# DARK_MEDIANS (the medians a dark job will write) or an existing file.
# The images at the ends of the range must exist, but with --no-images (the
# caller checks the images it needs).
hedm_far_field_checks() {
  local images=1
  [ "$1" != --no-images ] || { images=0; shift; }
  local bin=$1 folder=$2 stem=$3 first=$4 last=$5 dark=$6 ok=0 p n image
  shift 6
  if [ ! -d "$folder" ]; then
    echo "The folder $folder does not exist."
    ok=1
  elif [ ! -w "$folder" ] || [ ! -x "$folder" ]; then
    echo "The folder $folder is not writable: the frame files are written there."
    ok=1
  fi
  if [ "$first" -gt "$last" ]; then
    echo "The range $first to $last holds no image."
    ok=1
  elif [ "$images" -eq 1 ]; then
    for n in "$first" "$last"; do
      printf -v image '%s/%s_%05d.raw' "$folder" "$stem" "$n"
      [ -r "$image" ] || { echo "The image $image (number $n, at an end of the range) does not exist or cannot be read."; ok=1; }
    done
  fi
  hedm_dark_path "$folder" "$dark"
  local darkFile=$REPLY written=0 m
  for m in "$@"; do
    [ "$(realpath -m -- "$m")" = "$(realpath -m -- "$darkFile")" ] && written=1
  done
  if [ "$written" -eq 0 ] && [ ! -r "$darkFile" ]; then
    if [ $# -gt 0 ]; then
      echo "The dark file $darkFile is not one the dark job writes ($*) and does not exist."
    else
      echo "The dark file $darkFile does not exist or cannot be read."
    fi
    ok=1
  fi
  for p in PanelPack ClipCount hedm-far-field-share hedm-slurm-far-field; do
    [ -x "$bin/$p" ] || { echo "The program $bin/$p is missing."; ok=1; }
  done
  return "$ok"
}

# hedm_missing_images FOLDER STEM FIRST LAST WHAT: a failed check for each
# run of missing or unreadable images among FIRST to LAST, WHAT naming whose
# numbers they are ("share 3").
hedm_missing_images() {
  local folder=$1 stem=$2 first=$3 last=$4 what=$5 n from="" image ok=0
  for (( n = first; n <= last + 1; n++ )); do
    printf -v image '%s/%s_%05d.raw' "$folder" "$stem" "$n"
    if (( n <= last )) && { [ ! -r "$image" ] || [ -d "$image" ]; }; then
      [ -n "$from" ] || from=$n
      continue
    fi
    [ -n "$from" ] || continue
    if (( from == n - 1 )); then
      printf -v image '%s/%s_%05d.raw' "$folder" "$stem" "$from"
      echo "The image $image (number $from, $what) does not exist or cannot be read."
    else
      printf -v image '%s/%s_%05d.raw to %s_%05d.raw' "$folder" "$stem" "$from" "$stem" "$((n - 1))"
      echo "The images $image (numbers $from to $((n - 1)), $what) do not exist or cannot be read."
    fi
    from="" ok=1
  done
  return "$ok"
}

# hedm_dark_stacks LIST: the lines of a dark list that name a stack (blank
# ones passed over), one per line: what hedm-slurm-dark's tasks are
# numbered by.
hedm_dark_stacks() {
  grep -v -E '^[[:space:]]*$' "$1" 2>/dev/null || true
}

# hedm_dark_medians LIST: the median files a dark list names, one per line.
hedm_dark_medians() {
  local stack median extra
  [ -r "$1" ] && [ -f "$1" ] || return 0
  while read -r stack median extra || [ -n "$stack" ]; do
    [ -n "$stack" ] && [ -n "$median" ] && [ -z "$extra" ] && echo "$median"
  done <"$1"
  return 0
}

# hedm_dark_list_checks BIN LIST: what a dark job needs before it is
# queued: LIST readable, and on each of its lines (blank ones passed over)
# a dark stack that can be read and a median file whose folder is
# writable; StackCollapse in BIN.
hedm_dark_list_checks() {
  local bin=$1 list=$2 ok=0 stack median extra line=0 count=0 dir
  if [ ! -r "$list" ] || [ ! -f "$list" ]; then
    echo "The dark list $list does not exist or cannot be read."
    return 1
  fi
  # The last line is read whether or not a newline ends it.
  while read -r stack median extra || [ -n "$stack" ]; do
    line=$((line + 1))
    [ -n "$stack" ] || continue
    count=$((count + 1))
    if [ -z "$median" ] || [ -n "$extra" ]; then
      echo "Line $line of $list is not \"<dark stack> <median frame file>\"."
      ok=1
      continue
    fi
    [ -r "$stack" ] && [ -f "$stack" ] || { echo "The dark stack $stack (line $line of $list) does not exist or cannot be read."; ok=1; }
    dir=$(dirname -- "$median")
    [ -d "$dir" ] && [ -w "$dir" ] || { echo "The median $median (line $line of $list) cannot be written: $dir is not a writable folder."; ok=1; }
  done <"$list"
  [ "$count" -ge 1 ] || { echo "The dark list $list names no dark stack."; ok=1; }
  [ -x "$bin/StackCollapse" ] || { echo "The program $bin/StackCollapse is missing."; ok=1; }
  return "$ok"
}

# hedm_array_list I...: ascending task numbers as an sbatch --array list
# ("0-3,7"), in REPLY.
hedm_array_list() {
  local list="" from="" to="" i
  for i in "$@" ""; do
    if [ -n "$from" ] && [ -n "$i" ] && [ "$i" -eq $((to + 1)) ]; then
      to=$i
      continue
    fi
    if [ -n "$from" ] && [ "$from" -eq "$to" ]; then
      list+=",$from"
    elif [ -n "$from" ]; then
      list+=",$from-$to"
    fi
    from=$i to=$i
  done
  REPLY=${list#,}
}
