#!/usr/bin/env bash
# Joins the slice summaries FOLDER_*_*.sum of ensemble_slice.sh into
# SUMMARY (default FOLDER.sum) with its statistics, ranking and SVG plots:
#   ensemble_merge.sh FOLDER [SUMMARY]
set -euo pipefail
folder=$1
summary=${2:-$folder.sum}
KESTRIM=${KESTRIM:-kestrim}
{
  echo "ENSEMB/M $summary"
  ls "${folder}"_*_*.sum
  echo
  echo V
  echo EXIT
} | "$KESTRIM"
