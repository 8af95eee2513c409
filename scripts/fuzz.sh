#!/usr/bin/env bash
# Builds the coverage-guided fuzz targets with clang (libFuzzer, ASan, UBSan)
# and runs each in turn for a bounded time.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#
# SECONDS per target (default 60; 0 only builds); TARGETs are names such as decode_fuzz
# (default: all of fuzz/*_fuzz.cpp). Each starts from its committed corpus
# in fuzz/corpus/<name>/ and keeps what it learns in build-fuzz/corpus/, so
# the committed corpus stays small. A crash, a sanitizer report, a leak, an
# input that runs longer than the timeout or one that needs more memory than
# the limit is a finding: the input is kept in build-fuzz/findings/ and the
# script fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD  # the targets work in scratch folders: every path they get is absolute

secs=${1:-60}
shift || true

# What the libraries need to build (libedit and the rest), then the fuzzer.
bash scripts/deps.sh
source scripts/fuzz_common.sh

have_fuzzer() {
  command -v clang++ >/dev/null 2>&1 &&
    ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1
}
if ! have_fuzzer; then
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y clang libclang-rt-14-dev
fi

jobs=$(nproc)
((jobs > 2)) && jobs=2
# Line tables are all a sanitizer's stack trace needs; full debug
# information only slows the build.
cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -gline-tables-only -DNDEBUG" -DTK_FUZZ=ON -DBUILD_TESTING=ON -DTK_BENCH=OFF >/dev/null

targets=("$@")
if ((${#targets[@]} == 0)); then
  for f in fuzz/*_fuzz.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi
cmake --build build-fuzz -j"$jobs" --target "${targets[@]}"
((secs == 0)) && exit 0

mkdir -p build-fuzz/findings
# Scratch folders of the targets.
scratch=$(fuzz_scratch tkfuzz)
trap 'rm -rf "$scratch"' EXIT
# One target's bounded run; its verdict goes to build-fuzz/<target>.verdict.
run_target() {
  local t=$1 name=${1%_fuzz}
  local work=$root/build-fuzz/corpus/$name log=$root/build-fuzz/$1.log
  mkdir -p "$work"
  # setsid: no controlling terminal, so no input can reach /dev/tty.
  local dict=()
  [ -f "fuzz/$name.dict" ] && dict=(-dict="$root/fuzz/$name.dict")
  local opts
  read -ra opts <<<"$(fuzz_options "$t")"
  set +e
  TK_FUZZ_SCRATCH=$scratch \
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:allocator_may_return_null=0 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    setsid -w "$root/build-fuzz/$t" "$work" "$root/fuzz/corpus/$name" \
      -max_total_time="$secs" -timeout="$(fuzz_timeout "$t")" -rss_limit_mb=2048 -max_len=4096 \
      -print_final_stats=1 "${dict[@]}" "${opts[@]}" \
      -artifact_prefix="$root/build-fuzz/findings/$name-" >"$log" 2>&1
  echo $? >"$root/build-fuzz/$t.verdict"
  set -e
}

# The targets run side by side, one per core: each is single-threaded.
for t in "${targets[@]}"; do
  rm -f "build-fuzz/$t.verdict"
  while (($(jobs -rp | wc -l) >= jobs)); do wait -n || true; done
  run_target "$t" &
done
wait
failed=()
for t in "${targets[@]}"; do
  log=$root/build-fuzz/$t.log
  rc=$(cat "build-fuzz/$t.verdict" 2>/dev/null || echo 99)
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
  if ((rc == 0)); then
    echo "fuzz: $t: ${runs:-?} executions, nothing found"
  else
    echo "fuzz: $t: FINDING (exit $rc) after ${runs:-?} executions; see $log"
    grep -E 'ERROR|SUMMARY|runtime error|Test unit written' "$log" | head -20 || true
    failed+=("$t")
  fi
done
if ((${#failed[@]})); then
  echo "fuzz: findings in: ${failed[*]}"
  exit 1
fi
