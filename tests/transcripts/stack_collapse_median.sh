# The median of a ten-frame dark stack, then a look at it.
hedm-sample-data stack dark.ge3 10
StackCollapse dark.ge3 median.ge3
FramePreview median.ge3 median.png --bin 4
