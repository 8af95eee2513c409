#!/usr/bin/env bash
# The fuzz stage must fail when a target finds a fault, and keep the input:
# runs scripts/fuzz.sh on the target with a planted fault and checks both.
set -uo pipefail
cd "$(dirname "$0")/.."
rm -f build-fuzz/findings/planted-*
out=$(bash scripts/fuzz.sh "${1:-60}" planted_fuzz 2>&1)
rc=$?
fail() { echo "fuzz self-test: $*"; echo "$out" | tail -20; exit 1; }
((rc != 0)) || fail "the planted fault was not reported (exit 0)"
grep -q "FINDING" <<<"$out" || fail "no FINDING line"
grep -q "heap-buffer-overflow" build-fuzz/planted_fuzz.log || fail "no sanitizer report in the log"
kept=$(ls build-fuzz/findings/planted-crash-* 2>/dev/null | head -1)
[ -n "$kept" ] || fail "the input was not kept in build-fuzz/findings"
head -c 3 "$kept" | grep -q "BUG" || fail "the kept input does not hold the fault's trigger"
rm -f build-fuzz/findings/planted-*
echo "fuzz self-test: the planted fault was found, reported and kept ($kept)"

# A target run by hand, outside the script, removes its scratch folder at exit.
cmake --build build-fuzz --target rays_fuzz >/dev/null
base=$(mktemp -d) learned=$(mktemp -d)
TK_FUZZ_SCRATCH=$base setsid -w build-fuzz/rays_fuzz -runs=50 "$learned" "$PWD/fuzz/corpus/rays" \
  >/dev/null 2>&1 || { rm -rf "$base" "$learned"; fail "rays_fuzz failed on its own corpus"; }
left=$(ls -A "$base")
rm -rf "$base" "$learned"
[ -z "$left" ] || fail "a target left its scratch folder behind: $left"
echo "fuzz self-test: a target leaves no scratch folder behind"
