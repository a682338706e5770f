#!/usr/bin/env bash
# The main job on a fresh machine: builds Prescora, lays out a library folder in a temporary
# directory (the libraries' settings pointing at the simulator), starts the regional-service
# simulator, retrieves a sample patient's pending prescriptions through the retrieval library,
# dispenses one of them through the dispensing library and the real executor.exe, retrieves again
# to show it gone, prints the results and stops the simulator.
#
#   scripts/demo.sh                    the folder is removed at the end
#   scripts/demo.sh --conservar        the folder stays, to look at its logs, audit and spool files
#   scripts/demo.sh --estilo multiref  the simulator answers in the multiRef style of the classic
#                                      Java stacks (prescora-simulador --estilo); both may be given
set -euo pipefail
cd "$(dirname "$0")/.."
keep=0
style=normal
while [ $# -gt 0 ]; do
  case "$1" in
    --conservar) keep=1 ;;
    --estilo)
      [ $# -ge 2 ] || { echo "Falta el nombre del estilo tras --estilo" >&2; exit 2; }
      style=$2
      shift
      ;;
    *) echo "Argumento no reconocido: $1 (valen --conservar y --estilo NOMBRE)" >&2; exit 2 ;;
  esac
  shift
done

scripts/install-deps.sh
. scripts/lib/simulador.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DPRESCORA_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target Interface Initiator executor \
  prescora-simulador prescora-dispensar prescora-recuperar
bin="$build/bin"

folder=$(mktemp -d "${TMPDIR:-/tmp}/prescora-demo-XXXXXX")
sim_pid=""
finish() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  if [ "$keep" = 1 ]; then
    echo "La carpeta de la biblioteca queda en $folder"
  else
    rm -rf "$folder"
  fi
}
trap finish EXIT

# An installation is one folder: the libraries (under their sonames, with the names the
# component layer loads as links), the launcher and the hosts side by side.
cp -P "$bin"/libInterface.so* "$bin"/libInitiator.so* "$bin/executor.exe" \
  "$bin/prescora-dispensar" "$bin/prescora-recuperar" "$folder/"

"$bin/prescora-simulador" --port 0 --datos tools/simulador/datos-ejemplo.ini --estilo "$style" \
  >"$folder/simulador.out" 2>"$folder/simulador.err" &
sim_pid=$!
url=$(url_del_simulador "$folder/simulador.out" "$sim_pid")
if [ -z "$url" ]; then
  echo "El simulador no ha arrancado:" >&2
  cat "$folder/simulador.err" >&2
  exit 1
fi
sed "s#^Servicio=.*#Servicio=$url#" config/Interface.ini >"$folder/Interface.ini"

echo "Carpeta de la biblioteca: $folder"
echo "Servicio (simulador):     $url (estilo $style)"
echo
status=0
# The sample patient of the simulator's data, and the user of the sample request.
recuperar=("$folder/prescora-recuperar" --tis BBBB000001 --usuario FARM01 --clave clave01)
echo "== Prescripciones pendientes del paciente BBBB000001 =="
"${recuperar[@]}" || status=$?
echo
echo "== Dispensación de RX0000000001 =="
"$folder/prescora-dispensar" --archivo tools/dispensar/peticion-ejemplo.ini || status=$?
echo
echo "== De nuevo, las pendientes del paciente BBBB000001: RX0000000001 ya no está =="
"${recuperar[@]}" || status=$?
echo
echo "Auditoría ($folder/Auditoria/audit.log):"
sed 's/^/  /' "$folder/Auditoria/audit.log" 2>/dev/null || echo "  (vacía)"
echo "El simulador atendió:"
tail -n +2 "$folder/simulador.out" | sed 's/^/  /'
exit "$status"
