#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) into build-fuzz/ and runs them side by side,
# each for SECONDS (default 60).
#   scripts/fuzz.sh [--seeds-only] [SECONDS] [probe|engine|settings ...]
# Each target starts from its seeds (build-fuzz/tests/fuzz/corpus/<target>/,
# small generated media and the shipped settings) and what earlier runs
# found (build-fuzz/tests/fuzz/grown/<target>/, where new inputs go).
# --seeds-only starts from the seeds alone and keeps nothing, so that the
# run takes the same time however long the fuzzers have run before (the
# test suite's fuzz suite). A finding (crash, hang, leak or sanitizer
# report) is written to build-fuzz/tests/fuzz/findings/<target>/ and ends
# the run with status 1; once it is fixed, keep it in
# tests/fuzz/regressions/<target>/, where the plain suite replays it.
set -euo pipefail
cd "$(dirname "$0")/.."

seeds_only=0
if [ "${1:-}" = --seeds-only ]; then
  seeds_only=1
  shift
fi
seconds=${1:-60}
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(probe engine settings)
if ! command -v clang++ >/dev/null; then
  echo "fuzz: clang++ is not installed (scripts/install-deps.sh installs it)" >&2
  exit 2
fi

dir=build-fuzz
cmake -S . -B "$dir" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DENABLE_ASAN=ON -DBUILD_GUI=OFF >/dev/null
cmake --build "$dir" -j "$(nproc)" --target fuzz_corpus "${targets[@]/#/fuzz_}"

export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# The targets run side by side: each gets its SECONDS of wall time.
run_target() {
  local target=$1 max_len seeds grown findings log
  case "$target" in
    settings) max_len=4096 ;;
    *) max_len=102400 ;;
  esac
  seeds="$dir/tests/fuzz/corpus/$target"
  grown="$dir/tests/fuzz/grown/$target"
  [ $seeds_only = 1 ] && grown=$(mktemp -d)
  findings="$dir/tests/fuzz/findings/$target"
  log="$dir/tests/fuzz/$target.log"
  mkdir -p "$grown" "$findings"
  # Each input bounds its own work to a few seconds: -timeout reports a hang.
  local result=0
  "$dir/tests/fuzz/fuzz_$target" "$grown" "$seeds" -max_total_time="$seconds" -max_len="$max_len" \
    -timeout=25 -rss_limit_mb=2560 -artifact_prefix="$findings/" -print_final_stats=1 >"$log" 2>&1 || result=1
  [ $seeds_only = 1 ] && rm -rf "$grown"
  return $result
}

echo "== fuzz ${targets[*]} for ${seconds} s each, side by side"
pids=()
for target in "${targets[@]}"; do
  run_target "$target" &
  pids+=($!)
done
status=0
for i in "${!targets[@]}"; do
  target=${targets[$i]}
  log="$dir/tests/fuzz/$target.log"
  if wait "${pids[$i]}"; then
    echo "== fuzz_$target"
    awk '/^stat::number_of_executed_units|^stat::average_exec_per_sec|^stat::peak_rss_mb/' "$log"
  else
    status=1
    echo "fuzz_$target found a defect; the log is $log:" >&2
    grep -E "^==[0-9]+==ERROR|SUMMARY|Test unit written|runtime error|ALARM|out-of-memory" "$log" >&2 || tail -20 "$log" >&2
  fi
done
exit $status
