#!/usr/bin/env bash
# Builds the three Debian packages as Debian builds its own (debhelper,
# dpkg-buildflags with hardening=+all, SOURCE_DATE_EPOCH from the changelog)
# from a copy of the sources, then checks them:
#   - lintian reports no error or warning;
#   - hardening-check passes every ELF file (PIE, stack protector, fortify,
#     relro, bindnow);
#   - installed together in a throwaway root (with a copy of this machine's
#     package database, so their Depends are checked for real): a CMake host
#     and a qmake host build against the -dev package and load the plug-in,
#     adsctl runs, man adsctl shows its page; removed, they leave nothing;
#   - with --reproducible, a second build at another path gives
#     bit-identical packages.
#   bash scripts/package.sh [--reproducible]
# The packages land in build-deb/ (ADS_PACKAGE_DIR sets another folder).
set -euo pipefail
cd "$(dirname "$0")/.."
source=$PWD
out=${ADS_PACKAGE_DIR:-$source/build-deb}
reproducible=0
[ "${1:-}" = "--reproducible" ] && reproducible=1

bash scripts/install-packages.sh cmake g++ make qtbase5-dev libqt5serialport5-dev dpkg-dev debhelper \
  lintian devscripts pkg-config man-db file
rm -rf "$out"
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The debian/ folder is written by the project's configuration (names and
# versions from CMake); its changelog must announce the project's version.
cmake -S . -B "$out/meta" -DADS_BUILD_TESTS=OFF >"$out/meta.log" 2>&1 || { cat "$out/meta.log"; exit 1; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$out/meta/CMakeCache.txt")
changelog_version=$(dpkg-parsechangelog -l "$out/meta/debian/changelog" -S Version)
[ "$version" = "$changelog_version" ] || {
  echo "FAIL: the project is $version, the newest entry of packaging/debian/changelog.in $changelog_version"
  exit 1
}
epoch=$(dpkg-parsechangelog -l "$out/meta/debian/changelog" -S Timestamp)

# build_at DIR: the sources as they are (without build folders), built there.
build_at() {
  local tree=$1/beckhoff-ads-$version
  mkdir -p "$tree"
  tar -c --exclude='./build*' --exclude=./.git . | tar -x -C "$tree"
  cp -r "$out/meta/debian" "$tree/debian"
  (cd "$tree" && DEB_BUILD_OPTIONS="nocheck noautodbgsym parallel=$(nproc)" \
     dpkg-buildpackage -b -us -uc >"$1/build.log" 2>&1) || { tail -n 40 "$1/build.log"; return 1; }
}

echo "== building the packages of $version"
build_at "$out/build"
mv "$out"/build/*.deb "$out"/
debs=("$out"/*.deb)
for deb in "${debs[@]}"; do
  echo "$(basename "$deb"): $(dpkg-deb --field "$deb" Depends)"
done

echo "== lintian"
lintian --fail-on error,warning --tag-display-limit 0 "${debs[@]}"
echo "no errors, no warnings"

echo "== hardening-check"
# Fortify replaces a call whose buffer size the compiler knows; the calls it
# leaves (memcpy into a QByteArray's data, read into a caller's buffer) have
# no size to check. Its answer must be "yes" or "only unprotected functions";
# every other check must pass. Control-flow protection (CET) is not among
# Debian 12's build flags.
fortify_of() {
  local report
  report=$(hardening-check --verbose "$1") || true
  grep -qE 'Fortify Source functions: (yes|no, only unprotected functions found)' <<<"$report" \
    || { echo "FAIL: $1:"; echo "$report"; return 1; }
  if grep -q 'Fortify Source functions: yes' <<<"$report"; then
    echo "fortify: yes"
  else
    echo "fortify: no call with a size it can check ($(grep -oE 'unprotected: [a-z_0-9]+' <<<"$report" \
      | cut -d' ' -f2 | sort | paste -sd' '))"
  fi
}
mkdir -p "$work/files"
for deb in "${debs[@]}"; do dpkg-deb -x "$deb" "$work/files"; done
elves=0
while IFS= read -r -d '' f; do
  file -b "$f" | grep -q '^ELF' || continue
  hardening-check --quiet --nofortify --nocfprotection "$f" || { hardening-check "$f"; exit 1; }
  fortify=$(fortify_of "$f")
  echo "$(basename "$f"): PIE (executables), stack protector, relro, bindnow: yes; $fortify"
  elves=$((elves + 1))
done < <(find "$work/files" -type f -print0 | sort -z)
[ "$elves" -eq 4 ] || { echo "FAIL: $elves ELF files, expected 4"; exit 1; }

echo "== installed in a throwaway root"
root=$work/root
mkdir -p "$root" "$work/admin/updates" "$work/admin/info"
cp /var/lib/dpkg/status "$work/admin/status"
touch "$work/admin/available"
dpkg_in() {
  dpkg --admindir="$work/admin" --instdir="$root" --force-script-chrootless \
    --path-include='/usr/share/doc/*' --path-include='/usr/share/man/*' "$@" >"$work/dpkg.log" 2>&1 \
    || { grep -v "files list file for package" "$work/dpkg.log"; return 1; }
}
dpkg_in -i "${debs[@]}"
multiarch=$(dpkg-architecture -q DEB_HOST_MULTIARCH)
libdir=$root/usr/lib/$multiarch
export LD_LIBRARY_PATH=$libdir
info=$("$root/usr/bin/adsctl" info)
echo "$info"
stamp="v1.0.2 $(date -u -d "@$epoch" '+%Y-%m-%d %H:%M:%S')"
grep -qxE "build: +$stamp" <<<"$info" || { echo "FAIL: the build stamp is not '$stamp', the changelog's date"; exit 1; }
MANPATH=$root/usr/share/man MANWIDTH=80 man -P cat adsctl 2>/dev/null | grep -q "adsctl - read and write PLC variables" \
  || { echo "FAIL: man adsctl does not show the installed page"; exit 1; }
bash tests/package/check-manpages.sh "$root/usr/bin/adsctl" "$root/usr/share/man/man1/adsctl.1.gz" \
  "$root/usr/bin/ads-sim" "$root/usr/share/man/man1/ads-sim.1.gz"
PKG_CONFIG_SYSROOT_DIR=$root bash tests/package/build-hosts.sh "$work/hosts" "$root/usr" \
  "$libdir/beckhoff-ads/libBeckhoff_ADS.so"
unset LD_LIBRARY_PATH
dpkg_in --purge $(for deb in "${debs[@]}"; do dpkg-deb --field "$deb" Package; done)
left=$(find "$root" -mindepth 1 | wc -l)
[ "$left" -eq 0 ] || { echo "FAIL: left after removal:"; find "$root" -mindepth 1; exit 1; }
echo "installed and removed cleanly"

if [ "$reproducible" = 1 ]; then
  echo "== reproducible: a second build at another path"
  build_at "$work/another/path/for/the/second/build"
  differ=0
  for deb in "${debs[@]}"; do
    again=$work/another/path/for/the/second/build/$(basename "$deb")
    if cmp -s "$deb" "$again"; then
      echo "$(basename "$deb"): identical ($(sha256sum "$deb" | cut -c1-16))"
    else
      echo "FAIL: $(basename "$deb") differs between the two builds"
      differ=1
    fi
  done
  [ "$differ" = 0 ] || exit 1
fi
echo "packages: ok"
