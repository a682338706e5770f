#!/usr/bin/env bash
# Builds Prescora and runs every test. With --sanitize, the address and undefined-behaviour
# sanitizer build instead. With --tsan, the thread-sanitizer build of only the test programs that
# start threads (label "threads") and what they run, and only those tests. The build folder is
# build/ (build-asan/, build-tsan/), or $BUILD_DIR ($BUILD_DIR-asan, $BUILD_DIR-tsan).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build}"
flags=(-DPRESCORA_WERROR=ON)
targets=(all)
tests=()
if [ "${1:-}" = "--sanitize" ]; then
  build="$build-asan"
  flags+=(-DPRESCORA_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
elif [ "${1:-}" = "--tsan" ]; then
  build="$build-tsan"
  flags+=(-DPRESCORA_TSAN=ON -DCMAKE_BUILD_TYPE=Debug)
  targets=(thread_tests)
  tests=(-L threads)
  # Reports go to files: a launcher started by a test writes to /dev/null.
  reports="$PWD/$build/tsan-reports"
  rm -rf "$reports"
  mkdir -p "$reports"
  export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 log_path=$reports/race"
  TSAN_OPTIONS+=" suppressions=$PWD/tests/tsan.supp"
fi
scripts/install-deps.sh
cmake -S . -B "$build" "${flags[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"
status=0
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" "${tests[@]}" || status=$?
if [ -n "${reports:-}" ] && [ -n "$(ls -A "$reports")" ]; then
  cat "$reports"/*
  echo "thread sanitizer: $(ls "$reports" | wc -l) report(s) in $reports" >&2
  status=1
fi
exit "$status"
