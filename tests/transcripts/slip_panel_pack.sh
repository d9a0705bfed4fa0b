# PanelPack's slips: a step that is not a number, a step forgotten, the stem
# without its underscore, and an output name that holds a stack.
source "$(dirname "${BASH_SOURCE[0]}")/slips.bash"
hedm-sample-data floats scan_ 1 3
hedm-sample-data stack scan_00003.ge3 2
files
slip PanelPack scan_ 1 2 5 raw 1x
slip PanelPack scan_ 1 3 5 raw
slip PanelPack scan 1 3 5 raw 1
slip PanelPack scan_ 1 3 5 raw 1.0
files
