# StackCollapse's slips: the arguments the wrong way round must not replace
# the dark stack by its median; a stack cut short and a float image given
# by mistake are collapsed over their whole frames, with a warning.
source "$(dirname "${BASH_SOURCE[0]}")/slips.bash"
hedm-sample-data stack dark_stack.ge3 3
StackCollapse dark_stack.ge3 dark_median.ge3 >/dev/null
head -c $((8192 + 2 * 8388608 + 1000)) dark_stack.ge3 >truncated_stack.ge3
hedm-sample-data floats scan_ 1 1
files
slip StackCollapse dark_median.ge3 dark_stack.ge3
slip StackCollapse truncated_stack.ge3 m.ge3
slip StackCollapse scan_00001.raw m_float.ge3
slip StackCollapse dark_stack.ge3 dark_median.ge3
files
