#!/usr/bin/env bash
# Checks the built shared libraries against the ABI baselines kept in cmake/abi/ (libabigail's
# abidiff over the public headers): an added symbol passes; any other change of what hosts use (a
# symbol gone, a type, a signature or a layout changed) fails. Such a change needs a new soname
# (PRESCORA_SOVERSION in CMakeLists.txt) and a new baseline made on purpose with
# scripts/abi-renew.sh.
#
#   scripts/abi-check.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
failed=0
passed=0
. scripts/lib/abi.sh
for library in Interface Initiator prescora; do
  abi_library "$build" "$library"
  if [ ! -f "$baseline" ]; then
    echo "FAIL $soname: no baseline $baseline (a new soname: scripts/abi-renew.sh $build)"
    failed=$((failed + 1))
    continue
  fi
  status=0
  abidiff --drop-private-types --no-added-syms --headers-dir2 "$headers" "$baseline" "$file" >"$build/abidiff-$library.txt" 2>&1 ||
    status=$?
  # abidiff's status is a bit field: 1 error, 2 usage, 4 a change, 8 a change known to break.
  # Additions are left out of its report, so any change left may break a host.
  if ((status & 3)); then
    echo "FAIL $soname: abidiff could not compare"
    failed=$((failed + 1))
  elif ((status & 12)); then
    echo "FAIL $soname: the ABI changed against $baseline"
    failed=$((failed + 1))
  else
    echo "ok   $soname"
    passed=$((passed + 1))
  fi
  ((status & 12)) && sed 's/^/     /' "$build/abidiff-$library.txt" | head -n 60
done
echo "abi: $passed passed, $failed failed"
[ "$failed" = 0 ]
