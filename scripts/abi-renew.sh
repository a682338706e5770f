#!/usr/bin/env bash
# Writes the ABI baselines (cmake/abi/<soname>.abi) from a build with debugging information (the
# default RelWithDebInfo). A baseline is only replaced by one that hosts built against it can still
# use (symbols added, nothing else changed): when anything else changed, raise PRESCORA_SOVERSION in
# CMakeLists.txt first, rebuild, and the new soname gets a baseline of its own (the old one may then
# be deleted).
#
#   scripts/abi-renew.sh [BUILD_DIR] [--unreleased]
#
# --unreleased replaces a baseline even across a break: only for a soname that no package has
# shipped yet.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
unreleased=0
[ "${2:-}" = "--unreleased" ] && unreleased=1
. scripts/lib/abi.sh
for library in Interface Initiator prescora; do
  abi_library "$build" "$library"
  if [ -f "$baseline" ] && [ "$unreleased" = 0 ]; then
    status=0
    abidiff --drop-private-types --no-added-syms --headers-dir2 "$headers" "$baseline" "$file" >/dev/null 2>&1 ||
      status=$?
    if ((status & 12)); then
      echo "$soname: the ABI changed against $baseline; raise PRESCORA_SOVERSION first" >&2
      exit 1
    fi
  fi
  abidw --headers-dir "$headers" --drop-private-types --drop-undefined-syms --no-show-locs \
    --no-corpus-path --no-comp-dir-path "$file" >"$baseline.new"
  mv "$baseline.new" "$baseline"
  echo "$baseline"
done
