#!/usr/bin/env bash
# The README's commissioning walkthrough, run as the README writes it. The
# section's fenced blocks each follow a marker comment:
#   <!-- walkthrough: file NAME -->   a file the commands use, written as it is
#   <!-- walkthrough: controllers --> ads-sim command lines, one a line
#   <!-- walkthrough: session -->     "$ COMMAND" lines, each followed by what it prints
# The controllers are started on free loopback ports, the session's commands
# run one after the other in one shell (stdout and stderr together) with each
# README address replaced by the real one, and every command's output must be
# the README's, time stamps aside; a command that exits non-zero fails.
#   check-readme-walkthrough.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
work=$(mktemp -d)
pids=()
cleanup() {
  [ -z "${run:-}" ] || kill -- -"$run" 2>/dev/null || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

section=$(awk '/^### Commissioning a controller/{on=1; next} on && /^##/{exit} on' "$source/README.md")
[ -n "$section" ] || fail "the README has no section 'Commissioning a controller'"
mkdir "$work/blocks"
# Each marked block to a file of its own kind; an unmarked block is an error.
awk -v dir="$work/blocks" '
  /^<!-- walkthrough: .* -->$/ { mark = $0; sub(/^<!-- walkthrough: /, "", mark); sub(/ -->$/, "", mark); next }
  /^```/ {
    if (inside) { inside = 0; next }
    inside = 1
    if (mark == "") { print "unmarked block at line " NR > (dir "/errors"); next }
    split(mark, word, " ")
    out = word[1] == "file" ? dir "/file." word[2] : dir "/" word[1]
    if (word[1] == "session") print "@@block" >> out
    mark = ""
    next
  }
  inside && out != "" { print >> out }
  !inside { out = "" }
' <<<"$section"
[ ! -s "$work/blocks/errors" ] || fail "the walkthrough has a block without a marker: $(cat "$work/blocks/errors")"
[ -s "$work/blocks/controllers" ] && [ -s "$work/blocks/session" ] || fail "the walkthrough has no controllers or no session"

mkdir "$work/run"
ln -s "$build" "$work/run/build"
for file in "$work"/blocks/file.*; do
  [ -e "$file" ] || continue
  cp "$file" "$work/run/${file##*/file.}"
done

# README address -> real address, as "PORT=PORT" lines for perl.
map=$work/ports
: >"$map"
i=0
while IFS= read -r line; do
  line=${line%%#*}
  line=$(sed -E 's/[[:space:]]*&?[[:space:]]*$//' <<<"$line")
  [ -n "$line" ] || continue
  [[ $line == build/bin/ads-sim* ]] || fail "a controllers line that is not ads-sim: $line"
  listen=127.0.0.1:48898
  if [[ $line =~ --listen[[:space:]]+([^[:space:]]+) ]]; then
    listen=${BASH_REMATCH[1]}
    line=${line/--listen ${listen}/}
  fi
  [[ $listen == 127.0.0.1:* ]] || fail "a controller not on 127.0.0.1: $listen"
  i=$((i + 1))
  (cd "$work/run" && exec bash -c "exec $line --listen 127.0.0.1:0") >"$work/sim$i.txt" 2>&1 &
  pids+=("$!")
  for _ in $(seq 100); do
    grep -qs '^tcp ' "$work/sim$i.txt" && break
    sleep 0.1
  done
  real=$(awk '/^tcp /{print $2; exit}' "$work/sim$i.txt")
  [ -n "$real" ] || fail "ads-sim did not start: $line: $(cat "$work/sim$i.txt")"
  echo "${listen##*:}=${real##*:}" >>"$map"
done <"$work/blocks/controllers"

# Any other loopback address in the session is one where nothing listens:
# one where nothing listens here takes its place.
for port in $(grep -oE '127\.0\.0\.1:[0-9]+' "$work/blocks/session" | sed 's/.*://' | sort -u); do
  grep -q "^$port=" "$map" && continue
  for candidate in $(seq 47000 47999); do
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then
      echo "$port=$candidate" >>"$map"
      break
    fi
  done
done
# Swaps addresses in one pass by the map (or the map reversed).
swap() {
  perl -e 'my ($file, $back) = @ARGV; open my $m, "<", $file or die; my %m;
           while (<$m>) { chomp; my ($r, $a) = split /=/; if ($back) { $m{$a} = $r } else { $m{$r} = $a } }
           while (<STDIN>) { s/127\.0\.0\.1:(\d+)/exists $m{$1} ? "127.0.0.1:$m{$1}" : $&/ge; print }' "$map" "$1"
}
# Time stamps differ from run to run, and CSV lines end in CR LF.
normal() { sed -E 's/\r$//; s/[0-9]{4}-[0-9]{2}-[0-9]{2}[T ][0-9]{2}:[0-9]{2}:[0-9]{2}(\.[0-9]{3})?/<time>/g'; }

# The session as one script: each command between two marker lines.
expected=$work/expected
script=$work/session.sh
: >"$expected"
echo 'exec 2>&1' >"$script"
n=0
while IFS= read -r line; do
  if [[ $line == '$ '* ]]; then
    n=$((n + 1))
    printf '@@command %d\n' "$n" >>"$expected"
    printf 'echo "@@command %d"\n%s\necho "@@exit $?"\n' "$n" "$(swap 0 <<<"${line#\$ }")" >>"$script"
    echo "${line#\$ }" >"$work/command.$n"
  elif [[ $line != '@@block' ]]; then
    [ "$n" -gt 0 ] || fail "output before the first command: $line"
    echo "$line" >>"$expected"
  fi
done <"$work/blocks/session"
[ "$n" -gt 0 ] || fail "the walkthrough's session has no command"

cd "$work/run"
# In a process group of its own, so that whatever a command left running
# (a watch in the background, when a command failed) ends with it.
setsid timeout 60 bash "$script" >"$work/out.txt" &
run=$!
rc=0
wait "$run" || rc=$?
[ "$rc" = 0 ] || fail "the walkthrough's commands did not end in time (exit $rc): $(tail -5 "$work/out.txt")"
actual=$work/actual
# A line not ended by a newline leaves the marker after it: split them.
sed -E 's/(.)@@exit /\1\n@@exit /' "$work/out.txt" | swap 1 >"$actual"

status=0
for i in $(seq "$n"); do
  got=$(awk -v n="$i" '$0 == "@@command " n {on=1; next} /^@@command /{on=0} on' "$actual")
  exit=$(grep -E '^@@exit ' <<<"$got" || true)
  got=$(grep -vE '^@@exit ' <<<"$got" | normal || true)
  want=$(awk -v n="$i" '$0 == "@@command " n {on=1; next} /^@@command /{on=0} on' "$expected" | normal)
  command=$(cat "$work/command.$i")
  if [ "$exit" != "@@exit 0" ]; then
    echo "FAIL: \$ $command: ${exit:-no exit status} ($got)"
    status=1
  elif [ "$got" != "$want" ]; then
    echo "FAIL: \$ $command"
    diff <(echo "$want") <(echo "$got") | sed 's/^/  /' || true
    status=1
  fi
done
[ "$status" = 0 ] || exit 1
echo "README walkthrough: $n commands, their outputs as shown"
