# BuildTriMesh with a GridSize that is no positive number, or an Rsample
# written with a decimal comma: refused, naming the key and the value (or
# the line), and the earlier grid.txt stays.
source "$(dirname "${BASH_SOURCE[0]}")/slips.bash"
printf 'GridSize 2\nRsample 1\nDataDirectory .\n' >good.params
printf 'GridSize -5\nRsample 1\nDataDirectory .\n' >negative.params
printf 'GridSize 2\nRsample 1,5\nDataDirectory .\n' >comma.params
printf 'GridSize 2\nRsample 0\nDataDirectory .\n' >zero.params
BuildTriMesh good.params >/dev/null
files
slip BuildTriMesh negative.params
slip BuildTriMesh comma.params
slip BuildTriMesh zero.params
files
