# PanelPack on an image with an infinite pixel: not converted (its frame
# would be all zeros), the count of infinite pixels named, status 2.  An
# image of 2880 x 2880 floats: converted from its first 2048 x 2048 values,
# as ever, with a warning naming the bytes passed over.
source "$(dirname "${BASH_SOURCE[0]}")/slips.bash"
hedm-sample-data floats scan_ 1 2 >/dev/null
printf '\x00\x00\x80\x7f' | dd of=scan_00002.raw bs=1 seek=40000 conv=notrunc status=none  # +inf at pixel 10000
{ cat scan_00001.raw; head -c 16400384 /dev/zero; } >big_00001.raw  # 2880 x 2880 x 4 bytes
files
slip PanelPack scan_ 1 2 5 raw 1
slip PanelPack big_ 1 1 5 raw 1
files
cmp big_00001.ge3 scan_00001.ge3 && echo "big_00001.ge3 is scan_00001.ge3"
