#!/usr/bin/env bash
# A tolerance ensemble spread with GNU parallel over the hosts in the file
# nodes (one per line, ssh reachable, sharing this folder): ten slices,
# then the merge here.
#   examples/ensemble_parallel.sh tol1 1000
set -euo pipefail
folder=$1 total=$2
here=$(cd "$(dirname "$0")" && pwd)
seq 0 9 | parallel --sshloginfile nodes --workdir "$PWD" "$here/ensemble_slice.sh" "$folder" "$total" 10 {}
"$here/ensemble_merge.sh" "$folder"
