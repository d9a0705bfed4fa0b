# Shell helpers for running the far-field programs on many cores or nodes.
# Source this file:  . docs/cluster.sh

# hedm_share START END STEP I N
# Prints "first last" of task I's share (I from 0 to N-1) of the numbers
# START, START+STEP, ... up to END: N contiguous runs that together hold every
# number exactly once.  Prints nothing when task I has no numbers.
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
