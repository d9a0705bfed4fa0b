# GrainQuats on lines longer than a 999-character piece: a comment of 3000
# characters full of numbers stays one comment (no fake grains), a grain
# line padded far past its 23rd field gives its one grain, and a binary file
# lists twenty skipped lines and counts the rest in one closing line.
source "$(dirname "${BASH_SOURCE[0]}")/slips.bash"
hedm-sample-data grains grains.txt 2 >/dev/null
comment="%"
while [ ${#comment} -lt 3000 ]; do comment+=" 1 0 0 0 1 0 0 0 1 a b c 3 3 3 90 90 90 w x y z"; done
{ echo "${comment:0:3000}"; tail -n +2 grains.txt; } >long_comment.txt
padded=$(sed -n 2p grains.txt)
while [ ${#padded} -lt 5000 ]; do padded+=" 4 5 6"; done
echo "${padded:0:5000}" >long_grain.txt
hedm-sample-data stack binary.ge3 1 >/dev/null
files
slip GrainQuats long_comment.txt seeds.csv
slip GrainQuats long_grain.txt seed1.csv
slip GrainQuats binary.ge3 binary.csv
files
GrainQuats grains.txt all.csv >/dev/null
cmp seeds.csv all.csv && echo "long_comment.txt gives the seeds of grains.txt"
cmp <(head -1 all.csv) seed1.csv && echo "long_grain.txt gives the first of them"
