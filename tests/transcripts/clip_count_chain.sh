# The far-field chain: float images to frame files, the dark median, and the
# saturated pixels per frame less the dark count.
hedm-sample-data floats scan_ 1 3 raw 2 >/dev/null
hedm-sample-data stack dark.ge3 3
PanelPack scan_ 1 3 5 raw 1 >/dev/null
StackCollapse dark.ge3 dark_median.ge3 >/dev/null
ClipCount . scan 5 1 3 .ge3 dark_median.ge3 14000
