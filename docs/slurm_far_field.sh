#!/bin/bash
# A Slurm job array for a far-field run: every task converts its share of the
# float images and then counts the saturated pixels of the same share.
#   sbatch --array=0-15 docs/slurm_far_field.sh /data/run7 scan 1 1600 dark_median.ge3 14000
#SBATCH --job-name=far-field
#SBATCH --cpus-per-task=1
#SBATCH --mem=64M
#SBATCH --output=logs/far-field_%A_%a.out
set -u
folder=$1 stem=$2 first=$3 last=$4 dark=$5 saturation=$6
. "${HEDM_DOCS:-$(dirname "$0")}/cluster.sh"
share=$(hedm_share "$first" "$last" 1 "$SLURM_ARRAY_TASK_ID" "$SLURM_ARRAY_TASK_COUNT")
[ -n "$share" ] || exit 0
read -r s e <<<"$share"
tag=$(printf '%08d' "$s")
mkdir -p logs
PanelPack "$folder/${stem}_" "$s" "$e" 5 raw 1 >"logs/panelpack_$tag.log"
[ $? -eq 1 ] && ! grep -q '^Could not' "logs/panelpack_$tag.log" || exit 1
ClipCount "$folder" "$stem" 5 "$s" "$e" .ge3 "$dark" "$saturation" >"logs/clipcount_$tag.log"
