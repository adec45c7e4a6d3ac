#!/usr/bin/env bash
# The README's minimal host, exactly as the README gives it: its code and
# its commands are taken from the README and run from a folder that looks
# like the project root, against a simulated controller on a free port.
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

# The README's port lies in the kernel's ephemeral range, where any other
# test's client socket may hold it for a moment. The host and the simulator
# move together to a port below that range that nothing listens on.
[ "$(grep -c '127\.0\.0\.1:48898' <<<"$code")" = 1 ] || { echo "FAIL: the README's host does not connect to 127.0.0.1:48898 once"; exit 1; }
[ "$(grep -c '^build/bin/ads-sim ' <<<"$commands")" = 1 ] || { echo "FAIL: the README's commands do not start build/bin/ads-sim once"; exit 1; }
low=$(awk '{print $1}' /proc/sys/net/ipv4/ip_local_port_range)
port=
for _ in $(seq 50); do
  candidate=$((20000 + RANDOM % (low - 20000)))
  if ! (exec 3<>/dev/tcp/127.0.0.1/$candidate) 2>/dev/null; then port=$candidate; break; fi
done
[ -n "$port" ] || { echo "skipped: no free port below $low here"; exit 0; }
code=${code//127.0.0.1:48898/127.0.0.1:$port}
commands=$(sed "s|^build/bin/ads-sim |build/bin/ads-sim --listen 127.0.0.1:$port |" <<<"$commands")

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
