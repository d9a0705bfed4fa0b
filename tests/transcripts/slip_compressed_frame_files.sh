# A compressed frame file is refused by every reader of frames, naming its
# format, whatever the file is called; nothing is written.
source "$(dirname "${BASH_SOURCE[0]}")/slips.bash"
hedm-sample-data stack dark_stack.ge3 2 >/dev/null
hedm-sample-data stack dark_median.ge3 1 >/dev/null
gzip -1 -n -k dark_stack.ge3
bzip2 -1 -k dark_stack.ge3
xz -0 -T1 -k dark_stack.ge3
zstd -1 -q -k dark_stack.ge3
cp dark_stack.ge3.gz scan_00001.ge3
files
slip StackCollapse dark_stack.ge3.gz m.ge3
slip StackCollapse dark_stack.ge3.zst m.ge3
slip ClipCount . scan 5 1 1 .ge3 dark_stack.ge3.bz2 14000
slip ClipCount . scan 5 1 1 .ge3 dark_median.ge3 14000
slip FramePreview dark_stack.ge3.xz view.png
files
