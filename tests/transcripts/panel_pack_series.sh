# A series with a missing image and a short one: reported, passed over, and
# the run still ends with the completed status 1.
hedm-sample-data floats scan_ 1 4 raw
rm scan_00002.raw
head -c 1000 scan_00001.raw >scan_00004.raw
PanelPack scan_ 1 4 5 raw 1
