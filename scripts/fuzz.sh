#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, address and undefined-behaviour sanitizers) in build-fuzz/
# ($BUILD_DIR-fuzz) and runs each for SECONDS (default 60) from its seed corpus in
# fuzz/corpus/<target>/. Fails on the first crash, leak, time-out or memory blow-up; the input
# that caused it is kept in build-fuzz/findings/. New inputs found go to a scratch corpus, never
# into the repository's seeds.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
build="${BUILD_DIR:-build}-fuzz"
CXX=clang++ cmake -S . -B "$build" -DPRESCORA_FUZZ=ON -DPRESCORA_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target prescora_fuzzers
targets=("$@")
if ((${#targets[@]} == 0)); then
  read -r -a targets <<<"$(tr ';' ' ' <"$build/fuzz/targets.txt")"
fi
mkdir -p "$build/findings"
status=0
for target in "${targets[@]}"; do
  scratch="$(mktemp -d)"
  echo "== $target: $seconds s"
  if ! "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len=65536 -print_final_stats=1 -artifact_prefix="$build/findings/$target-" \
    "$scratch" "fuzz/corpus/$target" 2>"$build/findings/$target.log"; then
    tail -n 60 "$build/findings/$target.log"
    echo "== $target: FINDING (see $build/findings/)"
    status=1
  else
    grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$build/findings/$target.log" || true
  fi
  rm -rf "$scratch"
done
exit "$status"
