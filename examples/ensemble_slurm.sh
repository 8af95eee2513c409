#!/usr/bin/env bash
# A tolerance ensemble on a Slurm cluster: each task of the array maps one
# slice of the variants on the cores it was given; a job that waits for the
# whole array joins the slices.
#   sbatch --array=0-9 examples/ensemble_slurm.sh tol1 1000
#   sbatch --dependency=afterok:<array job id> --wrap "examples/ensemble_merge.sh tol1"
#SBATCH --job-name=ensemb
#SBATCH --cpus-per-task=2
#SBATCH --time=00:30:00
set -euo pipefail
folder=$1 total=$2
here=$(dirname "$0")
export KESTRIM_THREADS=${SLURM_CPUS_PER_TASK:-1}
exec "$here/ensemble_slice.sh" "$folder" "$total" "${SLURM_ARRAY_TASK_COUNT:-1}" "${SLURM_ARRAY_TASK_ID:-0}"
