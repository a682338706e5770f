#!/usr/bin/env bash
# Fails when a tracked C or C++ file is not formatted as .clang-format says, naming each file and
# line. Fix with: git ls-files -z '*.c' '*.cc' '*.cpp' '*.h' '*.hpp' | xargs -0 clang-format -i
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -d '' files < <(git ls-files -z '*.c' '*.cc' '*.cpp' '*.h' '*.hpp')
if ((${#files[@]} == 0)); then
  echo "format-check: no C or C++ file tracked" >&2
  exit 1
fi
clang-format --version
if ! clang-format --dry-run -Werror "${files[@]}"; then
  echo "format-check: the files above need clang-format -i" >&2
  exit 1
fi
echo "format-check: ${#files[@]} files formatted"
