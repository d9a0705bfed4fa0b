# hedm-sample-data refuses a count that is not a number instead of writing
# a file with no frame.
source "$(dirname "${BASH_SOURCE[0]}")/slips.bash"
slip hedm-sample-data stack d.ge3 ten
slip hedm-sample-data stack d.ge3 0
slip hedm-sample-data floats s_ 1 2x
slip hedm-sample-data h5 d.h5 2 --bits 12
slip hedm-sample-data h5 d.h5 2 --rows 0
slip hedm-sample-data h5 d.h5 2 --chunks rows
files
