# SolutionDump with SaveNSolutions other than the count the all-matches file
# was written for (3): 1 and 5 are refused, naming both counts and the
# bytes, and write no all-matches table (the result table, complete, stays);
# 3 converts.  Files cut short in a partial last row (a killed
# reconstruction) are named, not refused, and convert their whole rows.
source "$(dirname "${BASH_SOURCE[0]}")/slips.bash"
hedm-sample-data results mic.bin 1000 3 >/dev/null
params() { printf 'PhaseNr 1\nNumPhases 1\nGlobalPosition 0\nMicFileBinary %s\nMicFileText %s\nSaveNSolutions %s\n' "$@"; }
params mic.bin five.txt 5 >five.params
params mic.bin one.txt 1 >one.params
params mic.bin three.txt 3 >three.params
files
slip SolutionDump five.params
slip SolutionDump one.params
slip SolutionDump three.params
files
head -c $((999 * 88 + 7)) mic.bin >cut.bin
head -c $((999 * 152 + 100)) mic.bin.AllMatches >cut.bin.AllMatches
params cut.bin cut.txt 3 >cut.params
slip SolutionDump cut.params
cmp cut.txt.AllMatches <(head -n 1003 three.txt.AllMatches) && echo "cut.txt.AllMatches is the first 999 rows of three.txt.AllMatches"
