#!/usr/bin/env bash
# The main job: builds what is missing, then shows the driver as a host sees
# it: adsctl loads the plug-in with dlopen and reads and writes through
# CDriveBaseClass, first against a simulated controller inside adsctl, then
# against ads-sim over TCP and over a pseudo-terminal.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >/dev/null
bin=build/bin

# Shows a command, runs it, and shows its exit status when it is not 0.
step() {
  printf '\n$ %s\n' "$*"
  local status=0
  "$@" 2>&1 || status=$?
  [ "$status" -eq 0 ] || echo "(exit status $status)"
}
say() { printf '\n# %s\n' "$*"; }

work=$(mktemp -d)
sim_pid=
stop_sim() {
  if [ -n "$sim_pid" ]; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=
  fi
}
trap 'stop_sim; rm -rf "$work"' EXIT

say "The plug-in as a host finds it"
step $bin/adsctl info

say "No PLC needed: without --connect, adsctl runs a simulated controller of its own (zeroed memory)"
step $bin/adsctl read MW0 int16 2

say "ads-sim: the simulated controller as a program, started from an image file"
cat >"$work/image.txt" <<'EOF'
# group offset bytes..., all hex
4020 10 e8 03 d0 07   # M area, offset 0x10: int16 1000 and 2000
F020 0 05             # inputs: byte 0 = 0000 0101
symbol MAIN.nCounter 4020 10 2 INT   # a variable by name: the int16 at M offset 0x10
symbol MAIN.sName 4040 400 81 STRING(80)   // the operator, for the batch report
symbol GVL.aTemps 4020 200 40 ARRAY [0..9] OF REAL   // hall temperatures in degC
EOF
cat "$work/image.txt"
$bin/ads-sim --listen 127.0.0.1:0 --serial --verbose --image "$work/image.txt" >"$work/sim.log" 2>&1 &
sim_pid=$!
# It prints its addresses once it serves; wait for them, at most 10 s.
for _ in $(seq 1 100); do
  grep -q '^serial ' "$work/sim.log" && break
  kill -0 "$sim_pid" 2>/dev/null || break
  sleep 0.1
done
tcp=$(awk '$1 == "tcp" { print $2 }' "$work/sim.log")
pty=$(awk '$1 == "serial" { print $2 }' "$work/sim.log")
if [ -z "$tcp" ] || [ -z "$pty" ]; then
  echo "demo: ads-sim did not start:" >&2
  cat "$work/sim.log" >&2
  exit 1
fi
echo "ads-sim serves TCP on $tcp and a serial line on $pty"
eth=(--connect "$tcp")
serial=(--connect "$pty,115200,8,1,N")

step $bin/adsctl "${eth[@]}" read MW10 int16 2
step $bin/adsctl "${eth[@]}" read IX0.0 bool 3

say "A variable by name: the driver asks the controller where MAIN.nCounter lives, then reads it"
step $bin/adsctl "${eth[@]}" read MAIN.nCounter int16

say "A PLC string by name: the driver learns STRING(80) from the controller and writes Windows-1252 (ü is 252)"
step $bin/adsctl "${eth[@]}" write MAIN.sName string "Grüße, Batch 42"
step $bin/adsctl "${eth[@]}" read MAIN.sName string
step $bin/adsctl "${eth[@]}" read MAIN.sName uint8 8
step $bin/adsctl "${eth[@]}" read MAIN.sName string --json
say "A character Windows-1252 lacks is refused, never replaced; the string on the controller stays"
step $bin/adsctl "${eth[@]}" write MAIN.sName string "Ωmega"
step $bin/adsctl "${eth[@]}" read MAIN.sName string

say "The controller's symbols: its table uploaded through the driver, sorted by name, filtered by a glob"
step $bin/adsctl "${eth[@]}" symbols
step $bin/adsctl "${eth[@]}" symbols 'main.*' --json

say "Values of different types, written and read back (Ethernet)"
step $bin/adsctl "${eth[@]}" write MW20 int16 -1234
step $bin/adsctl "${eth[@]}" read MW20 int16
step $bin/adsctl "${eth[@]}" write MW30 float 3.14
step $bin/adsctl "${eth[@]}" read MW30 float
step $bin/adsctl "${eth[@]}" write MW40 double 0.1 -2.5e-300
step $bin/adsctl "${eth[@]}" read MW40 double 2 --json

say "An array, read back over the serial line: the same memory"
step $bin/adsctl "${eth[@]}" write MW60 uint16 1 2 3 500 65535
step $bin/adsctl "${serial[@]}" read MW60 uint16 5

say "A bit: MX200.3 is bit 3 of byte 200 (decimal), which is MBC8 (hex)"
step $bin/adsctl "${serial[@]}" write MX200.3 bool true
step $bin/adsctl "${eth[@]}" read MX200.3 bool
step $bin/adsctl "${eth[@]}" read MBC8 uint8

say "The frame trace of one exchange"
step $bin/adsctl "${eth[@]}" --trace read MW20 int16

say "watch prints a line when the value changes (another adsctl writes meanwhile); SIGINT after 2 s ends it"
(sleep 0.5 && $bin/adsctl "${eth[@]}" write MW20 int16 42 >/dev/null 2>&1) &
writer=$!
step timeout --preserve-status -s INT 2 $bin/adsctl "${eth[@]}" watch MW20 int16
wait "$writer" || true

say "Bad input is refused before anything is sent; driver results come with their meaning"
step $bin/adsctl "${eth[@]}" write MB0 uint8 300
step $bin/adsctl "${eth[@]}" read DB1 int16
step $bin/adsctl --connect 127.0.0.1:1 read MW0 int16

stop_sim
say "What ads-sim served (--verbose), one line per request"
grep -E '^(read|write) ' "$work/sim.log" || true
