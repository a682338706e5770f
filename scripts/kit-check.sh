#!/usr/bin/env bash
# What an integrator meets, checked on a finished build: the install is a working library folder,
# the installed headers compile with no defines, the example hosts build against the INSTALLED
# package (CMake and pkg-config, C++ and C) and dispense against the simulator, the Python example
# does the same through ctypes, and the Debian package holds its files where it says.
#
#   scripts/kit-check.sh [BUILD_DIR] [--sanitize]
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
build=$(realpath "${1:-build}")
sanitize=0
[ "${2:-}" = "--sanitize" ] && sanitize=1

work=$(mktemp -d "${TMPDIR:-/tmp}/prescora-kit-XXXXXX")
sim_pid=""
finish() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap finish EXIT

. scripts/lib/check.sh
. scripts/lib/simulador.sh

host_flags=(-Wall -Wextra -Werror)
run_env=()
if [ "$sanitize" = 1 ]; then
  host_flags+=(-fsanitize=address,undefined -fno-omit-frame-pointer)
  # Python is not built with the sanitizer: its runtime must come first, and Python's own
  # allocations are not ours to judge.
  run_env=(env "LD_PRELOAD=$(gcc -print-file-name=libasan.so):$(gcc -print-file-name=libubsan.so)"
    "ASAN_OPTIONS=detect_leaks=0")
fi

prefix=$work/prefix
folder=$prefix/lib/prescora

# ---- The install -------------------------------------------------------------------------------
check "cmake --install lays out the prefix" cmake --install "$build" --prefix "$prefix"
layout() {
  local missing=0
  for f in lib/prescora/libInterface.so lib/prescora/libInitiator.so lib/prescora/libprescora.so \
    lib/prescora/executor.exe lib/prescora/prescora-dispensar lib/prescora/prescora-simulador \
    lib/prescora/prescora-recuperar lib/prescora/prescora-auditoria \
    include/prescora/Initiator/CInitiator.h \
    lib/prescora/Interface.ini share/prescora/Interface.ini \
    include/prescora/prescora.h include/prescora/Interface/CInterface.h \
    include/prescora/Interface/Config.h include/prescora/Initiator/Config.h \
    lib/cmake/Prescora/PrescoraConfig.cmake lib/cmake/Prescora/PrescoraConfigVersion.cmake \
    lib/pkgconfig/prescora-interface.pc lib/pkgconfig/prescora-initiator.pc \
    lib/pkgconfig/prescora.pc share/man/man1/prescora-dispensar.1.gz \
    share/man/man1/prescora-simulador.1.gz share/man/man3/prescora.3.gz \
    share/man/man5/Interface.ini.5.gz include/prescora/prescora_errores.h bin/prescora-dispensar \
    lib/prescora/libInterface.so.1 share/prescora/peticion-ejemplo.ini; do
    [ -e "$prefix/$f" ] || { echo "missing: $f"; missing=1; }
  done
  for tool in "$folder"/prescora-*; do
    [ -e "$prefix/share/man/man1/$(basename "$tool").1.gz" ] || { echo "no manual page: $tool"; missing=1; }
  done
  return $missing
}
check "the library folder, headers, packages and manual pages are in place" layout
keeps_settings() {
  echo "; ajustes de esta farmacia" >>"$folder/Interface.ini"
  cmake --install "$build" --prefix "$prefix" >/dev/null
  grep -q "ajustes de esta farmacia" "$folder/Interface.ini"
}
check "a second install keeps the installation's Interface.ini" keeps_settings
manual_pages() {
  for page in "$prefix"/share/man/man*/*.gz; do
    LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null | grep . && return 1
  done
  return 0
}
if command -v man >/dev/null; then
  check "the manual pages format without warnings" manual_pages
fi

# ---- Headers -----------------------------------------------------------------------------------
every_header() {
  {
    echo "#include <prescora/prescora.h>"
    (cd "$prefix/include" && find prescora -name '*.h' ! -name prescora.h | sort | sed 's/.*/#include <&>/')
    echo "int main() { Interface::CInterface* a = nullptr; Initiator::CErrorItem b; (void)a; return b.Number(); }"
  } >"$work/every_header.cpp"
  c++ -std=c++17 -Wall -Wextra -Werror -pedantic -I"$prefix/include" -fsyntax-only "$work/every_header.cpp"
}
check "every installed header together, both libraries, no defines, -Werror" every_header
c_header() {
  printf '#include <prescora/prescora.h>\nint main(void) { return prescora_ultimo_error(); }\n' >"$work/c.c"
  cc -std=c99 -Wall -Wextra -Werror -pedantic -I"$prefix/include" -fsyntax-only "$work/c.c"
}
check "the C header compiles as C99" c_header

# ---- Example hosts against the installed package -----------------------------------------------
check "example host: CMake, find_package(Prescora)" \
  cmake -S examples/host -B "$work/host-cmake" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_FLAGS="${host_flags[*]}" -DCMAKE_C_FLAGS="${host_flags[*]}"
check "example host: CMake build" cmake --build "$work/host-cmake"
pkg_config_build() {
  export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
  # shellcheck disable=SC2046
  c++ -std=c++17 "${host_flags[@]}" examples/host/host.cpp -o "$work/host-pc" \
    $(pkg-config --cflags --libs prescora-interface prescora-initiator)
  # shellcheck disable=SC2046
  cc "${host_flags[@]}" examples/host/host.c -o "$work/host-c-pc" $(pkg-config --cflags --libs prescora)
}
check "example host: pkg-config build (C++ and C)" pkg_config_build

# ---- Against the simulator ---------------------------------------------------------------------
# Prescriptions of the check's own, so that each host dispenses one of its own.
{
  printf '[Servicio]\nCodigoCorrecto = 0000\nTextoCorrecto = Dispensación realizada\n'
  printf '[Usuario:FARM01]\nClave = clave01\n[Paciente:KIT0000001]\nNombre = Paciente del kit\n'
  for id in RXK0000001 RXK0000002 RXK0000003 RXK0000004 RXK0000005 RXK0000006; do
    printf '[Prescripcion:%s]\nTIS = KIT0000001\nCodProducto = 600001\nFechaPrescripcion = 20261201\n' "$id"
  done
  # Answered late enough for the waiting host's message loop to run many times.
  printf '[Prescripcion:RXK-LENTA]\nTIS = KIT0000001\nCodProducto = 600002\nFechaPrescripcion = 20261201\nRetraso = 1500\n'
} >"$work/datos.ini"
"$folder/prescora-simulador" --port 0 --datos "$work/datos.ini" \
  >"$work/simulador.out" 2>"$work/simulador.err" &
sim_pid=$!
url=$(url_del_simulador "$work/simulador.out" "$sim_pid")
if [ -z "$url" ]; then
  echo "FAIL the simulator did not start"
  cat "$work/simulador.err"
  exit 1
fi
sed -i "s#^Servicio=.*#Servicio=$url#" "$folder/Interface.ini"

dispensed() { # dispensed ID COMMAND...: ran, and the simulator confirmed that very prescription
  local id=$1
  shift
  "${run_env[@]}" "$@" && grep -q "solicitudDispensacion $id aceptada" "$work/simulador.out"
}
cpp_host() {
  dispensed RXK0000001 "$work/host-cmake/host" RXK0000001 KIT0000001 >"$work/host.log" &&
    grep -q "^pendientes (0): RXK0000002" "$work/host.log" || { cat "$work/host.log"; return 1; }
}
check "CMake C++ host dispenses, then retrieves what is still pending" cpp_host
c_host_events() {
  dispensed RXK0000002 "$work/host-cmake/host-c" RXK0000002 >"$work/host-c.log" &&
    grep -q "al iniciar: RXK0000002" "$work/host-c.log" &&
    grep -q "al terminar: correcto=1 tipo=1" "$work/host-c.log" || { cat "$work/host-c.log"; return 1; }
}
check "CMake C host dispenses, with the front object's events" c_host_events
check "pkg-config C++ host dispenses" dispensed RXK0000003 "$work/host-pc" RXK0000003
check "pkg-config C host dispenses" dispensed RXK0000004 "$work/host-c-pc" RXK0000004
python_dispenses() {
  dispensed RXK-LENTA python3 examples/python/prescora_ejemplo.py --carpeta "$folder" \
    --tis KIT0000001 --id RXK-LENTA >"$work/python.log" &&
    grep -Eq "bucle de mensajes: [1-9][0-9]* pasadas" "$work/python.log" &&
    grep -q "antes: .*RXK-LENTA" "$work/python.log" || { cat "$work/python.log"; return 1; }
}
check "Python (ctypes) retrieves, dispenses a slow answer (its message loop running), retrieves again" \
  python_dispenses
no_launcher() {
  # A copy of the installation without executor.exe: the failure must come back as an error item.
  local broken=$work/sin-lanzador
  cp -a "$folder" "$broken"
  rm -f "$broken/executor.exe"
  ! "${run_env[@]}" python3 examples/python/prescora_ejemplo.py --carpeta "$broken" \
    --tis KIT0000001 --id RXK0000005 \
    >"$work/broken.log" || return 1
  grep -q "DatosValidos=0" "$work/broken.log" && grep -q "error 53 " "$work/broken.log" ||
    { cat "$work/broken.log"; return 1; }
}
check "a dispensing that fails comes back through the C interface as error 53, not a crash" no_launcher
no_card() {
  # An empty certificate database and a short wait: no card comes, and the C interface hands the
  # failure over as an error item.
  mkdir -p "$work/nssdb" && certutil -N --empty-password -d "sql:$work/nssdb" || return 1
  sed -i -e "s#^BaseDatosCertificados=.*#BaseDatosCertificados=sql:$work/nssdb#" \
    -e "s#^InsercionTarjetaTimeOut=.*#InsercionTarjetaTimeOut=1#" "$folder/Interface.ini"
  ! "${run_env[@]}" python3 examples/python/prescora_ejemplo.py --carpeta "$folder" --tarjeta \
    >"$work/card.log" || return 1
  grep -q "^tarjeta: error 32018 " "$work/card.log" || { cat "$work/card.log"; return 1; }
}
if command -v certutil >/dev/null; then
  check "no card in the reader comes back through the C interface as error 32018" no_card
fi
rejected() { ! "${run_env[@]}" "$work/host-cmake/host" RXK0000001 >"$work/again.log"; grep -q "rechazo 1005" "$work/again.log"; }
check "a second dispensing of the same prescription is rejected, not confirmed" rejected

# ---- The Debian packages -----------------------------------------------------------------------
check "cpack makes the Debian packages" \
  cpack -G DEB -B "$work/deb" --config "$build/CPackConfig.cmake"
deb_contents() {
  local root=$work/deb-root
  for deb in "$work"/deb/prescora_*.deb "$work"/deb/prescora-dev_*.deb "$work"/deb/prescora-tools_*.deb; do
    dpkg -x "$deb" "$root"
  done
  dpkg-deb -e "$(ls "$work"/deb/prescora_*.deb)" "$work/deb-control"
  for f in usr/lib/prescora/libInterface.so.1 usr/lib/prescora/libInitiator.so.1 \
    usr/lib/prescora/libprescora.so.1 usr/lib/prescora/executor.exe usr/include/prescora/prescora.h \
    usr/lib/cmake/Prescora/PrescoraConfig.cmake usr/lib/pkgconfig/prescora-interface.pc \
    usr/share/man/man1/prescora-dispensar.1.gz usr/share/doc/prescora/copyright \
    usr/share/doc/prescora-tools/changelog.gz etc/logrotate.d/prescora; do
    [ -e "$root/$f" ] || { echo "missing in the packages: $f"; return 1; }
  done
  # The unversioned names the launcher loads, and the links to the data under /etc and /var.
  [ "$(readlink "$root/usr/lib/prescora/libInterface.so")" = libInterface.so.1 ] || return 1
  [ "$(readlink "$root/usr/lib/prescora/Interface.ini")" = /etc/prescora/Interface.ini ] || return 1
  [ "$(readlink "$root/usr/lib/prescora/Auditoria")" = /var/lib/prescora/Auditoria ] || return 1
  for tool in "$root"/usr/lib/prescora/prescora-*; do
    [ -e "$root/usr/bin/$(basename "$tool")" ] || { echo "not on the PATH: $tool"; return 1; }
  done
  # Not a conffile: the launcher rewrites its counters.
  ! grep -q Interface.ini "$work/deb-control/conffiles"
  dpkg-deb -f "$(ls "$work"/deb/prescora_*.deb)" Depends | tee /dev/stderr | grep -q libxml2
  grep -q '^prefix=${pcfiledir}/../..$' "$root/usr/lib/pkgconfig/prescora.pc"
  # Through the link on the PATH, the tool finds the libraries of its own folder.
  "$root/usr/bin/prescora-dispensar" --help >/dev/null
  # ... and a tool that reads its own folder finds the installation's, not the link's.
  ("$root/usr/bin/prescora-auditoria" || true) | grep -q "Carpeta: $root/usr/lib/prescora"
}
check "the packages' files are where they say, tools on the PATH, dependencies declared" deb_contents

echo "kit: $passed passed, $failed failed"
[ "$failed" = 0 ]
