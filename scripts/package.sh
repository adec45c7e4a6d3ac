#!/usr/bin/env bash
# Builds the Debian package (build/beckhoff-ads_<version>_amd64.deb), then
# installs and removes it with dpkg in a throwaway root whose package
# database is a copy of this machine's, so its Depends are checked for real
# and the machine itself is left as it was.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh dpkg-dev file >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# (cpack notes that the plug-in has no soname: a plug-in is not linked against.)
(cd build && cpack -G DEB >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
deb=$(ls build/beckhoff-ads_*_*.deb | head -n 1)
echo "package: $deb"
dpkg-deb --field "$deb" Package Version Depends

mkdir -p "$work/root" "$work/admin/updates" "$work/admin/info"
cp /var/lib/dpkg/status "$work/admin/status"
touch "$work/admin/available"
dpkg_in() { dpkg --admindir="$work/admin" --instdir="$work/root" --force-script-chrootless "$@" >"$work/dpkg.log" 2>&1 \
              || { grep -v "files list file for package" "$work/dpkg.log"; return 1; }; }

dpkg_in -i "$deb"
for f in usr/bin/adsctl usr/bin/ads-sim usr/lib/x86_64-linux-gnu/beckhoff-ads/libBeckhoff_ADS.so \
         usr/lib/x86_64-linux-gnu/libCLabelVariable.so.1 usr/include/beckhoff-ads/CDriveBaseClass.h \
         usr/lib/x86_64-linux-gnu/cmake/BeckhoffADS/BeckhoffADSConfig.cmake usr/share/doc/beckhoff-ads/LICENSE; do
  [ -e "$work/root/$f" ] || { echo "FAIL: $f is not installed"; exit 1; }
done
# The installed host finds the installed plug-in and label library by itself.
"$work/root/usr/bin/adsctl" info | head -n 1
dpkg_in -r beckhoff-ads
left=$(find "$work/root" -type f | wc -l)
[ "$left" -eq 0 ] || { echo "FAIL: $left files left after removal"; exit 1; }
echo "installed and removed cleanly"
