#!/usr/bin/env bash
# The Debian packages as a pharmacy installs them, on a finished build (run as root, on a machine
# it may install packages on: CI's). Makes the .debs with CPack, runs lintian on each (no error,
# no warning without a written override), installs them with apt, and then, as a user of the
# group prescora: no code file or code folder can be replaced or created, and a dispensing and a
# retrieval against the simulator work, their logs and audit landing under /var. Ends with a
# purge that leaves no settings, spool folders or logs behind.
#
#   scripts/package-check.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
if [ "$(id -u)" -ne 0 ]; then
  echo "package-check: must run as root (it installs the packages)" >&2
  exit 2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/prescora-package-XXXXXX")
chmod 755 "$work"
user=prescora-prueba
sim_pid=""
finish() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  DEBIAN_FRONTEND=noninteractive apt-get purge -y -q prescora prescora-dev prescora-tools \
    >/dev/null 2>&1 || true
  userdel "$user" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap finish EXIT

. scripts/lib/check.sh
. scripts/lib/simulador.sh
# As the user, in this very process (no helper process in between, so a kill reaches the program).
as_user() {
  setpriv --reuid "$user" --regid "$(id -g "$user")" --init-groups -- env HOME="$work/home" "$@"
}

# ---- The packages ------------------------------------------------------------------------------
(umask 022 && cpack -G DEB -B "$work/deb" --config "$build/CPackConfig.cmake" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log"; exit 1; }
debs=("$work"/deb/prescora_*.deb "$work"/deb/prescora-dev_*.deb "$work"/deb/prescora-tools_*.deb)
for deb in "${debs[@]}"; do
  check "lintian $(basename "$deb"): no error, no warning without an override" \
    lintian --fail-on error,warning "$deb"
done
debug_symbols() {
  ls "$work"/deb/*dbgsym* && for deb in "${debs[@]}"; do
    dpkg-deb -c "$deb" | grep -q usr/lib/debug && return 1
  done
  return 0
}
check "debugging information in -dbgsym packages, not in the packages" debug_symbols

install_packages() {
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${debs[@]}"
}
check "apt installs the three packages" install_packages
getent passwd "$user" >/dev/null || useradd --no-create-home --shell /bin/sh "$user"
usermod -aG prescora "$user"
mkdir -p "$work/home" && chown "$user" "$work/home"

# ---- Code only root can change -----------------------------------------------------------------
code_is_roots() {
  local bad=0
  # Every file and folder the packages ship outside /etc, links aside: root's, not writable by
  # group or others.
  while read -r path; do
    [ -L "$path" ] && continue
    case "$path" in /etc/*) continue ;; esac
    [ -e "$path" ] || continue
    read -r owner mode < <(stat -c '%U %a' "$path")
    if [ "$owner" != root ] || (((8#$mode & 8#022) != 0)); then
      echo "not root's alone: $path ($owner $mode)"
      bad=1
    fi
  done < <(dpkg -L prescora prescora-dev prescora-tools | sort -u)
  # The folder's links are the package's own: owned by root.
  find /usr/lib/prescora -type l ! -user root | grep . && bad=1
  return $bad
}
check "every code file and folder is root's and written by no one else" code_is_roots
cannot_change_code() {
  local folder=/usr/lib/prescora
  ! as_user sh -c "echo x >$folder/libNuevo.so" 2>/dev/null || { echo "created a file"; return 1; }
  ! as_user mv "$folder/libInitiator.so" "$folder/libInitiator.so.old" 2>/dev/null ||
    { echo "renamed a library link"; return 1; }
  ! as_user sh -c "echo x >>$folder/libInterface.so.1" 2>/dev/null ||
    { echo "wrote into a library"; return 1; }
  ! as_user ln -sfn /tmp "$folder/Enviados" 2>/dev/null || { echo "replaced a link"; return 1; }
  ! as_user mkdir "$folder/nueva" 2>/dev/null || { echo "created a folder"; return 1; }
  ! as_user sh -c "echo x >/usr/bin/prescora-nuevo" 2>/dev/null || { echo "created a tool"; return 1; }
  return 0
}
check "a member of the group can neither replace nor create code" cannot_change_code
layout() {
  [ "$(readlink /usr/lib/prescora/Interface.ini)" = /etc/prescora/Interface.ini ] &&
    [ "$(readlink /usr/lib/prescora/Auditoria)" = /var/lib/prescora/Auditoria ] &&
    [ -f /etc/prescora/Interface.ini ] && [ -d /var/spool/prescora/Enviados ] &&
    [ "$(stat -c %G /var/log/prescora)" = prescora ] &&
    [ -x /usr/bin/prescora-dispensar ] && [ -f /usr/share/man/man5/Interface.ini.5.gz ] &&
    [ -f /usr/share/man/man3/prescora.3.gz ] && [ -f /etc/logrotate.d/prescora ] &&
    logrotate -d /etc/logrotate.d/prescora
}
check "settings in /etc, data under /var, reached from the library folder" layout

# ---- A dispensing and a retrieval as a member of the group -------------------------------------
setpriv --reuid "$user" --regid "$(id -g "$user")" --init-groups -- /usr/bin/prescora-simulador \
  --port 0 --datos /usr/share/prescora/datos-ejemplo.ini >"$work/simulador.out" 2>"$work/simulador.err" &
sim_pid=$!
url=$(url_del_simulador "$work/simulador.out" "$sim_pid")
[ -n "$url" ] || { echo "FAIL the simulator did not start"; cat "$work/simulador.err"; exit 1; }
sed -i "s#^Servicio=.*#Servicio=$url#" /etc/prescora/Interface.ini

dispensing() {
  as_user sh -c "umask 022; prescora-dispensar --archivo /usr/share/prescora/peticion-ejemplo.ini" &&
    grep -q "solicitudDispensacion RX0000000001 aceptada" "$work/simulador.out" || return 1
  grep -q RX0000000001 /var/lib/prescora/Auditoria/*.log || { echo "no audit section"; return 1; }
  grep -q "^Enviados=1" /etc/prescora/Interface.ini || { echo "no counter"; return 1; }
  [ -s /var/log/prescora/Interface.log ] || { echo "no message log"; return 1; }
  # Nothing was written beside the code.
  ! find /usr/lib/prescora -mindepth 1 -newer "$work/deb" ! -type l | grep .
}
check "a member of the group dispenses; audit, counters and log land in /etc and /var" dispensing
# A request without identifier: the one made for it is reserved in the spool, not beside the code.
generated() {
  sed 's/^IDPrescripcion *=.*/IDPrescripcion =/' /usr/share/prescora/peticion-ejemplo.ini \
    >"$work/sin-id.ini" && chmod 644 "$work/sin-id.ini" || return 1
  as_user sh -c "umask 022; prescora-dispensar -q --archivo '$work/sin-id.ini'" || true
  grep -q "^\[ITP" /var/lib/prescora/Auditoria/*.log ||
    { echo "no audit section under a generated identifier"; return 1; }
  [ -f /var/spool/prescora/EnCurso/Identificadores.lock ] ||
    { echo "no identifiers' file"; ls -la /var/spool/prescora/EnCurso/; return 1; }
}
check "a member of the group dispenses a request without identifier" generated
retrieval() {
  as_user prescora-recuperar --tis BBBB000001 --usuario FARM01 --clave clave01 &&
    grep -q consultaPrescripcionesNoDispensadasPorTis "$work/simulador.out"
}
check "a member of the group retrieves a patient's prescriptions" retrieval
kill "$sim_pid" 2>/dev/null || true
wait "$sim_pid" 2>/dev/null || true
sim_pid=""

# ---- Upgrade keeps the settings, purge removes them --------------------------------------------
reinstall_keeps_settings() {
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --reinstall "${debs[@]}" </dev/null &&
    grep -q "^Servicio=$url" /etc/prescora/Interface.ini
}
check "a reinstall keeps the site's Interface.ini, asking nothing" reinstall_keeps_settings
purge() {
  DEBIAN_FRONTEND=noninteractive apt-get purge -y -q prescora prescora-dev prescora-tools &&
    [ ! -e /etc/prescora ] && [ ! -e /usr/lib/prescora ] && [ ! -e /var/spool/prescora ] &&
    [ ! -e /var/log/prescora ] && [ -d /var/lib/prescora/Auditoria ] &&
    rm -rf /var/lib/prescora
}
check "purge removes settings, spool folders and logs, and keeps the audit trail" purge

echo "package: $passed passed, $failed failed"
[ "$failed" = 0 ]
