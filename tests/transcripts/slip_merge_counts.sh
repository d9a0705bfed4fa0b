# Two runs on one machine in one folder: each keeps its logs in a folder of
# its own, so the second never writes over the first's, and the first still
# merges to its counts; hedm-merge-counts -o writes counts.txt whole, and
# leaves it as it was when the merge is refused (logs of two cuts of the
# range in one run's folder) or the run is incomplete.  The merge's messages
# go to standard error, shown here with the rest.
source "$(dirname "${BASH_SOURCE[0]}")/slips.bash"
exec 2>&1
hedm-sample-data floats scan_ 1 4 raw 2 >/dev/null
hedm-sample-data stack dark.ge3 2 >/dev/null
StackCollapse dark.ge3 dark_median.ge3 >/dev/null
rm dark.ge3
logs() {  # the logs' names (their contents hold times and process ids)
  echo "logs:"
  find logs -type f | sort | sed 's/^/  /'
}
slip hedm-far-field-share --run-folder
hedm-far-field-share . scan 1 2 dark_median.ge3 14000 logs/run_0001
hedm-far-field-share . scan 3 4 dark_median.ge3 14000 logs/run_0001
slip hedm-merge-counts -o counts.txt
files
slip hedm-far-field-share --run-folder
hedm-far-field-share . scan 1 3 dark_median.ge3 14000 logs/run_0002
hedm-far-field-share . scan 4 4 dark_median.ge3 14000 logs/run_0002
logs
slip hedm-merge-counts -o counts.txt logs/run_0001
hedm-far-field-share . scan 2 3 dark_median.ge3 14000 logs/run_0002
slip hedm-merge-counts -o counts.txt
slip hedm-far-field-share --run-folder --resume
slip hedm-far-field-share --run-folder
rm scan_00004.raw
hedm-far-field-share . scan 3 4 dark_median.ge3 14000 logs/run_0003 >/dev/null
hedm-far-field-share . scan 1 2 dark_median.ge3 14000 logs/run_0003
slip hedm-merge-counts -o counts.txt logs/run_0003
slip hedm-far-field-status logs/run_0003
files
