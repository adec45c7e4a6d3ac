#!/usr/bin/env bash
# Builds the tiny host against an installed tree twice, as a CMake project
# (find_package) and as a qmake project (pkg-config), and runs both: each
# must print "Beckhoff 1".
#   build-hosts.sh WORK PREFIX [PLUGIN]
# PREFIX is the installed tree's prefix where it lies now; PLUGIN, when given,
# is loaded instead of the path compiled in (a tree under a throwaway root).
# HOST_CXXFLAGS and HOST_LDFLAGS add flags (a sanitizer's runtime); a tree
# under a throwaway root sets PKG_CONFIG_SYSROOT_DIR to that root.
set -euo pipefail
work=$1
prefix=$2
plugin=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$work"

pc=$(find "$prefix" -name beckhoff-ads.pc -path '*/pkgconfig/*' | head -n 1)
[ -n "$pc" ] || { echo "FAIL: no beckhoff-ads.pc under $prefix"; exit 1; }
export PKG_CONFIG_PATH
PKG_CONFIG_PATH=$(dirname "$pc")

run() {
  local out
  out=$("$@" ${plugin:+"$plugin"})
  [ "$out" = "Beckhoff 1" ] || { echo "FAIL: $1 printed '$out', not 'Beckhoff 1'"; exit 1; }
}

cmake -S "$here/host" -B "$work/cmake-host" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_FLAGS="${HOST_CXXFLAGS:-}" -DCMAKE_EXE_LINKER_FLAGS="${HOST_LDFLAGS:-}" >"$work/cmake-host.log" 2>&1 \
  || { cat "$work/cmake-host.log"; exit 1; }
grep -q "BeckhoffADS_DIR:PATH=$prefix" "$work/cmake-host/CMakeCache.txt" \
  || { echo "FAIL: find_package found the package outside $prefix"; grep BeckhoffADS_DIR "$work/cmake-host/CMakeCache.txt"; exit 1; }
cmake --build "$work/cmake-host" >"$work/cmake-host.log" 2>&1 || { cat "$work/cmake-host.log"; exit 1; }
run "$work/cmake-host/tinyhost"
echo "CMake host: ok"

qmake=/usr/lib/qt5/bin/qmake
[ -x "$qmake" ] || qmake=qmake
mkdir -p "$work/qmake-host"
(cd "$work/qmake-host" &&
 "$qmake" "$here/qmake-host/tinyhost.pro" "QMAKE_CXXFLAGS+=${HOST_CXXFLAGS:-}" "QMAKE_LFLAGS+=${HOST_LDFLAGS:-}" &&
 make) >"$work/qmake-host.log" 2>&1 || { cat "$work/qmake-host.log"; exit 1; }
# qmake adds no run path: a tree outside the loader's search path is found
# the way such a host's users would find it.
libdir=$(pkg-config --libs-only-L beckhoff-ads | sed 's/^ *-L//; s/ .*//')
LD_LIBRARY_PATH="$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" run "$work/qmake-host/tinyhost"
echo "qmake host: ok"
