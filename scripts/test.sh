#!/usr/bin/env bash
# Builds Prescora and runs every test. With --sanitize, the address and undefined-behaviour
# sanitizer build instead. The build folder is build/ (build-asan/), or $BUILD_DIR ($BUILD_DIR-asan).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build}"
flags=(-DPRESCORA_WERROR=ON)
if [ "${1:-}" = "--sanitize" ]; then
  build="$build-asan"
  flags+=(-DPRESCORA_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi
scripts/install-deps.sh
cmake -S . -B "$build" "${flags[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
