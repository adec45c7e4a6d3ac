#!/usr/bin/env bash
# Installs the build into a throwaway prefix, checks that no installed file
# points into the build tree, then builds and runs a tiny host against the
# installed CMake package.   check-install.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
while IFS= read -r -d '' f; do
  if readelf -d "$f" 2>/dev/null | grep -E 'RPATH|RUNPATH' | grep -qF "$build"; then
    echo "FAIL: $f has a run path into the build tree:"; readelf -d "$f" | grep -E 'RPATH|RUNPATH'; exit 1
  fi
done < <(find "$work/prefix" -type f -print0)

# A sanitizer build installs instrumented libraries: the host then needs the
# sanitizer runtime linked in too.
flags=()
if grep -q '^ADS_SANITIZE:BOOL=ON' "$build/CMakeCache.txt"; then
  flags=(-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined)
fi
cmake -S "$source/tests/package/host" -B "$work/host" -DCMAKE_PREFIX_PATH="$work/prefix" "${flags[@]}" >/dev/null
cmake --build "$work/host" >/dev/null
out=$("$work/host/tinyhost")
echo "tinyhost: $out"
[ "$out" = "Beckhoff 1" ] || { echo "FAIL: expected 'Beckhoff 1'"; exit 1; }
grep -q "$work/prefix" "$work/host/CMakeCache.txt" || { echo "FAIL: the package was not found in the prefix"; exit 1; }
echo "installed package: ok"
