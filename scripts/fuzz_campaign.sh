#!/usr/bin/env bash
# A long fuzz campaign: every target runs until its executions, summed over
# all the runs (see below), reach a goal. One worker per core (at most
# two) at low priority; each takes the target with the most still to run
# that the other is not running, in runs of at most CHUNK seconds, and adds
# what was run to the tally in build-fuzz/executions/<name>. The campaign can
# be stopped at any time (Ctrl-C, kill): a run that is cut short still
# counts, and the next campaign goes on from the tally. A run counts the
# executions after its corpus is loaded. Before the workers start, a
# learned corpus grown far beyond what its target keeps is merged down.
#
#   scripts/fuzz_campaign.sh [GOAL] [TARGET...]
#
# GOAL executions per target (default 10000000); TARGETs as for fuzz.sh.
# FUZZ_CHUNK (seconds, default 1800) bounds one run. A finding stops its
# target and is reported at the end, as fuzz.sh reports it.
#
# build-fuzz/ does not outlive a machine: fuzz/executions.txt carries the
# tally in the repository. A campaign starts from it where this machine has
# no count of its own and writes it anew when it ends.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
root=$PWD
source scripts/fuzz_common.sh

goal=${1:-10000000}
shift || true
chunk=${FUZZ_CHUNK:-1800}

targets=("$@")
if ((${#targets[@]} == 0)); then
  for f in fuzz/*_fuzz.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi
# Installs clang when it is missing and builds the targets.
bash scripts/fuzz.sh 0 "${targets[@]}" || exit 1
jobs=$(nproc)
((jobs > 2)) && jobs=2

tally=$root/build-fuzz/executions
state=$root/build-fuzz/campaign
mkdir -p "$tally" "$state" build-fuzz/findings
lock=$state/lock
log=$state/log

count() { cat "$tally/$1" 2>/dev/null || echo 0; }

record=$root/fuzz/executions.txt
if [ -f "$record" ]; then
  while read -r name n; do
    [[ $name == \#* || -z $name || ! $n =~ ^[0-9]+$ ]] && continue
    [ -e "$tally/$name" ] || echo "$n" >"$tally/$name"
  done <"$record"
fi

# Under the lock: the target with the most to run, one nobody runs if there
# is one (shared, each worker runs half of what is left); it is marked busy
# by worker $1. Nothing when every target has reached the goal.
take() {
  local best="" left=0 bestBusy="" leftBusy=0 t n name
  for t in "${targets[@]}"; do
    name=${t%_fuzz}
    [ -e "$state/$name.finding" ] && continue
    n=$((goal - $(count "$name")))
    ((n <= 0)) && continue
    if compgen -G "$state/$name.busy.*" >/dev/null; then
      ((n > leftBusy)) && bestBusy=$name leftBusy=$n
    else
      ((n > left)) && best=$name left=$n
    fi
  done
  [ -z "$best" ] && best=$bestBusy left=$(((leftBusy + 1) / 2))
  [ -z "$best" ] && return 1
  touch "$state/$best.busy.$1"
  echo "$best $left"
}

add() {  # name runs
  local n
  n=$(($(count "$1") + $2))
  echo "$n" >"$tally/$1.new" && mv "$tally/$1.new" "$tally/$1"
}

worker() {
  local w=$1 scratch pid="" name left runs rc out kept inited
  scratch=$(fuzz_scratch tkcamp)
  # A stop forwards SIGINT to the running target, which then prints its
  # statistics; the loop below still counts the run.
  trap 'stopping=1; [ -n "$pid" ] && kill -INT "$pid" 2>/dev/null' INT TERM HUP
  stopping=0
  while ((stopping == 0)); do
    read -r name left < <( { flock 9 && take "$w"; } 9>"$lock") || break
    out=$state/$name.$w.log
    dict=()
    [ -f "fuzz/$name.dict" ] && dict=(-dict="$root/fuzz/$name.dict")
    read -ra opts <<<"$(fuzz_options "$name")"
    mkdir -p "$root/build-fuzz/corpus/$name"
    # -runs counts the load of the corpus as well: one run per file kept
    # (and a few of its own).
    kept=$(find "$root/build-fuzz/corpus/$name" "$root/fuzz/corpus/$name" -type f | wc -l)
    # A short allocation context: a quarter faster under AddressSanitizer; a
    # finding is replayed from its artifact with the full context.
    TK_FUZZ_SCRATCH=$scratch \
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:allocator_may_return_null=0:malloc_context_size=2 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      nice -n 19 setsid -w "$root/build-fuzz/${name}_fuzz" "$root/build-fuzz/corpus/$name" \
        "$root/fuzz/corpus/$name" -runs=$((left + kept + 16)) -max_total_time="$chunk" -timeout="$(fuzz_timeout "$name")" \
        -rss_limit_mb=2048 -max_len=4096 -print_final_stats=1 "${dict[@]}" "${opts[@]}" \
        -artifact_prefix="$root/build-fuzz/findings/$name-" >"$out" 2>&1 &
    pid=$!
    wait "$pid"
    rc=$?
    # wait returns early when a signal arrives; the target is still ending.
    while kill -0 "$pid" 2>/dev/null; do wait "$pid"; rc=$?; done
    pid=""
    # What the run explored: its executions after the corpus was loaded (the
    # load runs every input already kept again, and is not counted).
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$out" | grep -o '[0-9]*$' || true)
    [ -z "$runs" ] && runs=$(grep -o '^#[0-9]*' "$out" | tail -1 | tr -d '#' || true)
    inited=$(grep -oE '^#[0-9]+[[:space:]]+INITED' "$out" | grep -oE '[0-9]+' || true)
    if [ -z "$inited" ]; then runs=0; else runs=$((${runs:-0} - inited)); fi
    ((runs < 0)) && runs=0
    { flock 9 && add "$name" "${runs:-0}" && rm -f "$state/$name.busy.$w"; } 9>"$lock"
    if ((rc != 0 && stopping == 0)) && grep -qE 'ERROR|runtime error|Test unit written' "$out"; then
      cp "$out" "$state/$name.finding"
      echo "$(date +%T) worker $w: $name FINDING after ${runs:-?} executions; see $state/$name.finding" >>"$log"
    else
      echo "$(date +%T) worker $w: $name +$runs = $(count "$name")" >>"$log"
    fi
    if ((runs == 0 && stopping == 0)); then  # a chunk too short to pass the load
      echo "$(date +%T) worker $w: $name ran nothing beyond its corpus; FUZZ_CHUNK=$chunk is too short" >>"$log"
      break
    fi
  done
  rm -rf "$scratch"
}

# The learned corpus keeps every input that once added a feature, most of
# them superseded since, and every run first loads (runs) all of it: 16 000
# files of the KESTRIM session took 7 minutes of each chunk. Where it holds
# more than twice what the last run kept, it is merged down to the inputs
# that still add something before the workers start. Only a merge that
# ended normally replaces the folder.
minimise() {  # name
  local name=$1 dir=$root/build-fuzz/corpus/$1 last files scratch rc
  last=$(cat "$state/$name".[0-9]*.log 2>/dev/null | grep -oE 'INITED .* corp: [0-9]+' |
    grep -oE '[0-9]+$' | sort -n | tail -1)
  [ -n "$last" ] && [ -d "$dir" ] || return 0
  files=$(find "$dir" -type f | wc -l)
  ((files > 2 * last + 100)) || return 0
  rm -rf "$dir.merging" && mkdir -p "$dir.merging" || return 0
  scratch=$(fuzz_scratch tkcamp)
  TK_FUZZ_SCRATCH=$scratch ASAN_OPTIONS=detect_leaks=0:abort_on_error=0:malloc_context_size=2 \
    nice -n 19 setsid -w "$root/build-fuzz/${name}_fuzz" -merge=1 "$dir.merging" "$dir" \
      -timeout="$(fuzz_timeout "$name")" -rss_limit_mb=2048 -max_len=4096 \
      >"$state/$name.merge.log" 2>&1 &
  merging=$!
  wait "$merging"
  rc=$?
  while kill -0 "$merging" 2>/dev/null; do wait "$merging"; rc=$?; done
  merging=""
  rm -rf "$scratch"
  if ((rc == 0 && stopped == 0)) && [ -n "$(ls -A "$dir.merging")" ] &&
    mv "$dir" "$dir.old"; then
    if mv "$dir.merging" "$dir"; then
      rm -rf "$dir.old"
      echo "$(date +%T) $name: corpus merged, $files files to $(find "$dir" -type f | wc -l)" >>"$log"
    else
      mv "$dir.old" "$dir"
    fi
  fi
  rm -rf "$dir.merging"
}

stopped=0 merging=""
trap 'stopped=1; [ -n "$merging" ] && kill -INT -- -"$merging" 2>/dev/null' INT TERM HUP
# A campaign stopped between the two renames left the old folder aside.
for d in "$root"/build-fuzz/corpus/*.old; do
  [ -d "$d" ] || continue
  if [ -d "${d%.old}" ]; then rm -rf "$d"; else mv "$d" "${d%.old}"; fi
done
for t in "${targets[@]}"; do
  name=${t%_fuzz}
  ((stopped == 0 && $(count "$name") < goal)) && minimise "$name"
done

rm -f "$state"/*.busy.*
if ((stopped == 0)); then
  for ((w = 1; w <= jobs; w++)); do worker "$w" & done
  trap 'kill -TERM $(jobs -p) 2>/dev/null' INT TERM HUP
  wait
  wait
fi

# The tally of every target this machine knows, for the next machine.
{
  echo "# Executions of each fuzz target, summed over every campaign (scripts/fuzz_campaign.sh)"
  for f in "$tally"/*; do
    # name.new: an update cut short between its write and its rename
    if [[ -f $f && $f != *.new ]]; then echo "$(basename "$f") $(cat "$f")"; fi
  done
} >"$record.new" && mv "$record.new" "$record"

status=0
for t in "${targets[@]}"; do
  name=${t%_fuzz}
  if [ -e "$state/$name.finding" ]; then
    echo "fuzz: $t: FINDING; see $state/$name.finding"
    status=1
  else
    echo "fuzz: $t: $(count "$name") executions of $goal"
  fi
done
exit $status
