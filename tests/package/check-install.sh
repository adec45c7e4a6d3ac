#!/usr/bin/env bash
# Installs the build into a throwaway prefix and checks the installed tree:
# no run path into the build tree, only run paths relative to the file; the
# manual pages describe every option of --help; a CMake host and a qmake host
# build and run against it; and the tree still works once moved elsewhere.
#   check-install.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
while IFS= read -r -d '' f; do
  paths=$(readelf -d "$f" 2>/dev/null | grep -E 'RPATH|RUNPATH' | sed 's/.*\[\(.*\)\]/\1/') || true
  [ -n "$paths" ] || continue
  IFS=: read -ra parts <<<"$paths"
  for p in "${parts[@]}"; do
    [ -z "$p" ] || [[ $p == '$ORIGIN'* ]] || { echo "FAIL: $f has the run path $p, not relative to itself"; exit 1; }
  done
done < <(find "$prefix" -type f -print0)

mandir=$(dirname "$(find "$prefix" -name adsctl.1 | head -n 1)")
bash "$source/tests/package/check-manpages.sh" "$prefix/bin/adsctl" "$mandir/adsctl.1" \
  "$prefix/bin/ads-sim" "$mandir/ads-sim.1"

# A sanitizer build installs instrumented libraries: the hosts then need the
# sanitizer runtime linked in too.
if grep -q '^ADS_SANITIZE:BOOL=ON' "$build/CMakeCache.txt"; then
  export HOST_CXXFLAGS=-fsanitize=address,undefined HOST_LDFLAGS=-fsanitize=address,undefined
fi
bash "$source/tests/package/build-hosts.sh" "$work/hosts" "$prefix"

# Installed files find each other relative to themselves, wherever the tree is.
mv "$prefix" "$work/moved"
info=$("$work/moved/bin/adsctl" info 2>&1) || true
grep -qE '^name: +Beckhoff$' <<<"$info" || { echo "FAIL: adsctl of the moved tree: $info"; exit 1; }
echo "installed tree: ok"
