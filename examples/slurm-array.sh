#!/bin/bash
# Tests one list of domains as a Slurm job array of 16 tasks, each task one
# shard: Slurm sets SLURM_ARRAY_TASK_ID (0 to 15 here) and SLURM_ARRAY_TASK_COUNT,
# and zarvik takes the lines whose target hashes to the task's id modulo
# the count. A task that is requeued resumes from its own report.
#
#   sbatch slurm-array.sh /shared/domains.txt
#   cat /shared/reports/shard-*.jsonl > all.jsonl     # when all are done
#
#SBATCH --job-name=zarvik-batch
#SBATCH --array=0-15
#SBATCH --cpus-per-task=2
#SBATCH --mem=512M
#SBATCH --time=02:00:00
#SBATCH --requeue
set -euo pipefail
list=${1:?usage: sbatch slurm-array.sh LIST}
reports=$(dirname "$list")/reports
mkdir -p "$reports"
report=$reports/shard-$SLURM_ARRAY_TASK_ID.jsonl
touch "$report"
exec zarvik --batch="$list" --jobs=256 \
  --shard="$SLURM_ARRAY_TASK_ID/$SLURM_ARRAY_TASK_COUNT" \
  --resume="$report" --json="$report"
