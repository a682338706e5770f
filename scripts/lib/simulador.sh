# shellcheck shell=bash
# Shared by the demo and the checks (sourced). The simulator prints its description's URL as the
# first line of its output once it listens.

# url_del_simulador OUT PID: that URL, waited for up to 10 s while the simulator PID runs;
# nothing when it ended first or did not say.
url_del_simulador() {
  local out=$1 pid=$2 url=""
  for _ in $(seq 100); do
    url=$(head -n1 "$out" 2>/dev/null || true)
    [ -n "$url" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  printf '%s' "$url"
}
