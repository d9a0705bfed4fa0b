# GrainQuats given its arguments the wrong way round: the seed file is no
# grain list, so nothing is written and the grain list stays as it was.
# A list with no line at all is still a run that found no grains.
source "$(dirname "${BASH_SOURCE[0]}")/slips.bash"
hedm-sample-data grains grains.txt 2
GrainQuats grains.txt seeds.csv >/dev/null
: >empty.txt
files
slip GrainQuats seeds.csv grains.txt
slip GrainQuats empty.txt none.csv
files
