#!/usr/bin/env bash
# One slice of a tolerance ensemble through KESTRIM's ENSEMB:
#   ensemble_slice.sh FOLDER TOTAL SLICES INDEX
# maps slice INDEX (0 .. SLICES-1) of the TOTAL variants in FOLDER and
# writes FOLDER_from_to.sum. Every slice synthesises the same rays (same
# seed), so ensemble_merge.sh joins the slices into exactly the whole run.
# KESTRIM (default: kestrim on the PATH) and the ray settings below may be
# set in the environment.
set -euo pipefail
folder=$1 total=$2 slices=$3 index=$4
KESTRIM=${KESTRIM:-kestrim}
RAYS=${RAYS:-200000}            # rays
OBJECT=${OBJECT:-"10 10"}       # object diameters (micron)
APERTURE=${APERTURE:-"1 1"}     # aperture diameters (mm)
SPREAD=${SPREAD:-0.05}          # energy half spread (%)
SEED=${SEED:-7}
PLANE=${PLANE:-0}               # image distance (micron)
per=$(( (total + slices - 1) / slices ))
from=$(( index * per + 1 ))
to=$(( from + per - 1 ))
(( to > total )) && to=$total
(( from > total )) && exit 0
"$KESTRIM" <<EOF
ENSEMB $folder

$RAYS
$OBJECT
$APERTURE
$SPREAD
$SEED
$PLANE
$from $to
${folder}_${from}_${to}.sum
EXIT
EOF
