#!/usr/bin/env bash
# The label library's binary contract, against the reference committed beside
# this script (libCLabelVariable.abi, written by abidw from libabigail).
#   check-abi.sh LIBRARY           fails on any change a host built against the
#                                  reference would notice (a member added, a
#                                  type resized, a function removed or changed),
#                                  unless the library's SONAME was raised with it
#   check-abi.sh --update LIBRARY  writes the reference anew from LIBRARY
#   check-abi.sh --self-test       builds the library from value/ twice with the
#                                  compiler, as it is and with one member added
#                                  to CLabelVariable, and checks that the first
#                                  passes and the second is refused
# LIBRARY needs its debug information (a RelWithDebInfo build's, not a
# package's stripped file).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source=$(cd "$here/../.." && pwd)
reference=$here/libCLabelVariable.abi

soname_of() { readelf -d "$1" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p'; }

update() {
  abidw --no-corpus-path --no-comp-dir-path --no-show-locs --no-elf-needed --drop-private-types \
    --exported-interfaces-only --out-file "$reference" "$1"
  echo "wrote $reference from $1 ($(soname_of "$1"))"
}

check() {
  local library=$1 was now status=0
  [ -f "$reference" ] || { echo "FAIL: no reference $reference"; return 1; }
  was=$(sed -n "1s/.*soname='\([^']*\)'.*/\1/p" "$reference")
  now=$(soname_of "$library")
  [ -n "$now" ] || { echo "FAIL: $library has no SONAME"; return 1; }
  if [ "$now" != "$was" ]; then
    echo "$now replaces $was: changes to the contract are allowed; write the new reference with"
    echo "  bash packaging/abi/check-abi.sh --update $library"
    return 0
  fi
  # Added functions break no host and are not reported; exit status bit 4
  # is an ABI change, bit 8 an incompatible one, 1 and 2 abidiff's errors.
  abidiff --no-added-syms "$reference" "$library" >"$work/abidiff.txt" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    cat "$work/abidiff.txt"
    if [ $((status & 3)) -ne 0 ]; then
      echo "FAIL: abidiff could not compare $library with the reference"
    else
      echo "FAIL: $library changed its binary contract while keeping the SONAME $now."
      echo "Hosts built against $now compile its layout into their code: raise SOVERSION in"
      echo "value/CMakeLists.txt (the package name follows), then refresh the reference."
    fi
    return 1
  fi
  echo "$library: the binary contract of $now holds"
}

# build_label DIR: the label library from value/, with debug information.
build_label() {
  (cd "$1" && g++ -std=c++17 -g -O2 -fPIC -fvisibility=hidden -fvisibility-inlines-hidden -I. \
    -DCLABELVARIABLE_LIBRARY $(pkg-config --cflags Qt5Core) -shared -Wl,-soname,libCLabelVariable.so.1 \
    -o libCLabelVariable.so.1 "$PWD"/value/CLabelVariable.cpp "$PWD"/value/CLabelVariableOperators.cpp \
    $(pkg-config --libs Qt5Core)) >"$1.log" 2>&1 || { cat "$1.log"; return 1; }
}

self_test() {
  # The sources include their headers by folder, as everywhere in the project.
  mkdir -p "$work/as-is/value" "$work/planted/value"
  cp "$source"/value/*.h "$source"/value/*.cpp "$work/as-is/value/"
  cp "$source"/value/*.h "$source"/value/*.cpp "$work/planted/value/"
  sed -i 's/^    QString auxText;$/    QString auxText;\n    QString planted;/' "$work/planted/value/CLabelVariable.h"
  grep -q 'QString planted;' "$work/planted/value/CLabelVariable.h" || { echo "FAIL: could not plant a member"; return 1; }
  build_label "$work/as-is" &
  build_label "$work/planted" || { wait; return 1; }
  wait $! || return 1
  check "$work/as-is/libCLabelVariable.so.1" >"$work/as-is.txt" 2>&1 \
    || { cat "$work/as-is.txt"; echo "FAIL: the unchanged sources are refused"; return 1; }
  if check "$work/planted/libCLabelVariable.so.1" >"$work/planted.txt" 2>&1; then
    cat "$work/planted.txt"
    echo "FAIL: a member added to CLabelVariable went unnoticed"
    return 1
  fi
  grep -q "data member insertion" "$work/planted.txt" \
    || { cat "$work/planted.txt"; echo "FAIL: refused, but not for the planted member"; return 1; }
  echo "self-test: the unchanged library passes, one with a member added is refused"
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
case "${1:-}" in
  --update) update "$2" ;;
  --self-test) self_test ;;
  "" | -*) echo "usage: check-abi.sh LIBRARY | --update LIBRARY | --self-test" >&2; exit 2 ;;
  *) check "$1" ;;
esac
