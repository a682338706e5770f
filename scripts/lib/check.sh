# Sourced by the check scripts: `check DESCRIPTION COMMAND...` runs the command, counts it in
# $passed or $failed and prints "ok" or "FAIL" with the end of what it said. Needs $work.
passed=0
failed=0
check() {
  local what=$1
  shift
  if "$@" >"$work/last.log" 2>&1; then
    passed=$((passed + 1))
    echo "ok   $what"
  else
    failed=$((failed + 1))
    echo "FAIL $what"
    sed 's/^/     /' "$work/last.log" | tail -n 40
  fi
}
