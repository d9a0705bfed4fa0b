# ClipCount's slips: a saturation that is not a whole number, one spelled
# with an exponent, a compressed data file, and a dark file named by its
# path from the root.
source "$(dirname "${BASH_SOURCE[0]}")/slips.bash"
hedm-sample-data floats scan_ 1 1 raw 1
PanelPack scan_ 1 1 5 raw 1 >/dev/null
hedm-sample-data stack dark_stack.ge3 2
StackCollapse dark_stack.ge3 dark_median.ge3 >/dev/null
gzip -n <scan_00001.ge3 >z_00001.ge3.gz
rm dark_stack.ge3 scan_00001.raw
files
slip ClipCount . scan 5 1 1 .ge3 dark_median.ge3 14k
slip ClipCount . scan 5 1 1 .ge3 dark_median.ge3 1.4e4
slip ClipCount . scan 5 1 1 .ge3 dark_median.ge3 1.4e3.5
slip ClipCount . z 5 1 1 .ge3.gz dark_median.ge3 14000
ClipCount . scan 5 1 1 .ge3 "$PWD/dark_median.ge3" 14000 >absolute.txt
echo "dark from the root: status $?"
ClipCount . scan 5 1 1 .ge3 dark_median.ge3 14000 >relative.txt
diff <(sed '$d' absolute.txt) <(sed '$d' relative.txt) && echo "the same counts as the name inside the folder"
rm absolute.txt relative.txt
files
