#!/usr/bin/env bash
# The README's minimal host, exactly as the README gives it: its code and
# its commands are taken from the README and run from a folder that looks
# like the project root, against a simulated controller on port 48898.
#   check-readme-host.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
work=$(mktemp -d)
# The commands run in a process group of their own, so that whatever they
# left behind (the simulator, when a command failed) ends with them.
trap '[ -z "${run:-}" ] || kill -- -"$run" 2>/dev/null || true; rm -rf "$work"' EXIT

# The blocks that follow the heading: the C++ code, then the shell commands.
section=$(awk '/^### A minimal host/{on=1; next} on && /^### /{exit} on' "$source/README.md")
code=$(awk '/^```cpp/{on=1; next} /^```/{if (on) exit} on' <<<"$section")
commands=$(awk '/^```sh/{on=1; next} /^```/{if (on) exit} on' <<<"$section")
[ -n "$code" ] && [ -n "$commands" ] || { echo "FAIL: the README's minimal host has no code or no commands"; exit 1; }

# Nothing else may listen where the README's host connects.
if (exec 3<>/dev/tcp/127.0.0.1/48898) 2>/dev/null; then
  echo "skipped: port 48898 is in use here"
  exit 0
fi

cd "$work"
ln -s "$source/driver" driver
ln -s "$source/value" value
ln -s "$build" build
printf '%s\n' "$code" >minimal-host.cpp
# A sanitizer build's libraries need their runtime loaded first in a host
# built without it, as the README's is.
if asan=$(ldd "$build/lib/libCLabelVariable.so" | awk '/libasan/{print $3}') && [ -n "$asan" ]; then
  export LD_PRELOAD=$asan ASAN_OPTIONS=detect_leaks=0
fi
setsid timeout 90 bash -euo pipefail -c "$commands" >out.txt 2>&1 &
run=$!
rc=0
wait "$run" || rc=$?
kill -- -"$run" 2>/dev/null || true
# (the linker's notes on the sanitizer runtime's own calls are not the host's)
out=$(grep -v '^/usr/bin/ld: .*libasan.*: warning: ' out.txt || true)
[ "$rc" = 0 ] || { echo "FAIL: the README's commands (exit $rc): $out"; exit 1; }
expected=$'0\n0\n0\nresult 0'
[ "$out" = "$expected" ] || { echo "FAIL: the minimal host printed:"; echo "$out"; exit 1; }
echo "README minimal host: ok"
