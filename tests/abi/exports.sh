#!/bin/sh
# What the shipped libraries export, as a host's linker sees it: every symbol carries the
# library's version node, nothing of the standard library or of the C++ runtime's type data leaks
# from any of them, and the launcher's entry points are only in the private node.
#   exports.sh libInterface.so libInitiator.so libprescora.so
set -eu
status=0
fail() {
  echo "$1"
  status=1
}
for library in "$@"; do
  name=$(basename "$library")
  symbols=$(nm -D --defined-only "$library" | awk '$2 != "A" { print $3 }')
  case "$name" in
  libInterface*) node=PRESCORA_INTERFACE_1 ;;
  libInitiator*) node=PRESCORA_INITIATOR_1 ;;
  *) node=PRESCORA_C_1 ;;
  esac
  unversioned=$(echo "$symbols" | grep -v '@@' || true)
  [ -z "$unversioned" ] || fail "$name: without a version: $unversioned"
  # Every C++ symbol belongs to the library's own namespace: nothing of std:: or the runtime.
  foreign=$(echo "$symbols" | grep '^_Z' |
    grep -Ev '^_Z(N|NK|TIN|TSN|TVN|Thn[0-9]+_N|Thn[0-9]+_NK)9(Interface|Initiator)' | c++filt || true)
  [ -z "$foreign" ] || fail "$name: foreign C++ symbols exported: $(echo "$foreign" | head -5)"
  case "$node" in
  PRESCORA_C_1)
    other=$(echo "$symbols" | grep -v '^prescora_.*@@PRESCORA_C_1$' || true)
    [ -z "$other" ] || fail "$name: more than prescora_*: $(echo "$other" | head -5)"
    ;;
  *)
    private=$(echo "$symbols" | grep '@@PRESCORA_.*_PRIVATE$' | sed 's/@@.*//' | sort | tr '\n' ' ')
    case "$private" in
    "PrescoraCreateObject " | "PrescoraCreateObject PrescoraPrepare ") ;;
    *) fail "$name: private node holds: $private" ;;
    esac
    public=$(echo "$symbols" | grep "@@$node\$" | sed 's/@@.*//' | c++filt)
    inner=$(echo "$public" | grep -E '::platform::(files|profile|soap|process|clock|component|convert|inirules|text|certstore)' || true)
    [ -z "$inner" ] || fail "$name: inner modules exported: $(echo "$inner" | head -5)"
    echo "$public" | grep -q '::Version()' || fail "$name: no Version()"
    ;;
  esac
done
exit $status
