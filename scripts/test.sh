#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite.
#   scripts/test.sh                 plain, AddressSanitizer, ThreadSanitizer and fuzz suites
#   scripts/test.sh plain|asan|tsan|fuzz ...   the named suites, in that order
# The ThreadSanitizer suite builds and runs the engine and component tests,
# where the threads are. The fuzz suite runs each fuzz target for 20 s
# (scripts/fuzz.sh) when clang is installed.
# Build folders: build/ (plain), build-asan/, build-tsan/, build-fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh

suites=("$@")
[ ${#suites[@]} -gt 0 ] || suites=(plain asan tsan fuzz)

jobs=$(nproc)
status=0
for suite in "${suites[@]}"; do
  case "$suite" in
    plain) dir=build; flags=(); targets=(); tests=() ;;
    asan) dir=build-asan; flags=(-DENABLE_ASAN=ON -DCMAKE_BUILD_TYPE=Debug); targets=(); tests=() ;;
    tsan) dir=build-tsan; flags=(-DENABLE_TSAN=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo)
          targets=(--target make_media make_preview_media engine_tests component_tests)
          tests=(-R '^(make_media|(EngineTest|TranscodeTest|ConverterTest|RunTest|LogHandlerTest|LogList|StressTest)\.)') ;;
    fuzz)
      echo "== fuzz suite (build-fuzz)"
      if command -v clang++ >/dev/null; then
        ./scripts/fuzz.sh --seeds-only 20 || status=1
      else
        echo "fuzz suite skipped: clang++ is not installed"
      fi
      continue ;;
    *) echo "unknown suite: $suite (plain, asan, tsan, fuzz)" >&2; exit 2 ;;
  esac
  echo "== $suite suite ($dir)"
  cmake -S . -B "$dir" -G Ninja "${flags[@]}" >/dev/null
  cmake --build "$dir" -j "$jobs" "${targets[@]}"
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  # The sanitizer suites convert one profile of each family in the sweeps.
  if [ "$suite" = plain ]; then unset TARN_PROFILE_SWEEP; else export TARN_PROFILE_SWEEP=families; fi
  export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp"
  (cd "$dir" && ctest --output-on-failure -j "$jobs" "${tests[@]}") || status=1
done
exit $status
