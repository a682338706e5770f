# Sourced by the ABI scripts: `abi_library BUILD LIBRARY` sets, for lib<LIBRARY>.so of the build,
# $file (the versioned library), $soname, $baseline (cmake/abi/<soname>.abi) and $headers (the
# public headers abidiff reads).
abi_library() {
  file=$(readlink -f "$1/bin/lib$2.so")
  soname=$(readelf -d "$file" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
  baseline=cmake/abi/$soname.abi
  headers=$1/include/prescora/$2
  [ "$2" = prescora ] && headers=capi
  return 0
}
