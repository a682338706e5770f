#!/usr/bin/env bash
# Installs what Prescora needs to build and test, from Debian's packages. Safe to run again.
set -euo pipefail
packages=(
  build-essential cmake pkg-config clang-format
  libxml2-dev libssl-dev libcpp-httplib-dev libcli11-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  tinyproxy python3 python3-zeep openssl ca-certificates
  libnss3-dev libnss3-tools softhsm2 opensc
  clang libclang-rt-14-dev
  dpkg-dev file
  gsoap libgsoap-dev
  lintian abigail-tools logrotate
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo_cmd apt-get update -q
  $sudo_cmd apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
