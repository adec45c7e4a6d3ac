#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs each for
# SECONDS (default 30) on a working copy of its seed corpus. Exits non-zero
# when a target crashes, breaks an invariant, leaks or runs out of bounds.
#   bash scripts/fuzz.sh [SECONDS_PER_TARGET]
# FUZZ_BUILD_JOBS sets the build's parallel jobs (default 1).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
if ! [[ $seconds =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
  echo "usage: bash scripts/fuzz.sh [SECONDS_PER_TARGET]" >&2
  exit 2
fi
jobs=${FUZZ_BUILD_JOBS:-1}
targets=(fuzz_address fuzz_connection fuzz_reply fuzz_decode fuzz_label fuzz_symboltable fuzz_datatypes
  fuzz_notification)
build=build-fuzz

bash scripts/install-packages.sh cmake make clang libclang-rt-14-dev qtbase5-dev libqt5serialport5-dev

# The sanitizer flags go on everything, so the project's libraries the
# targets link are instrumented as well; fuzz/CMakeLists.txt adds libFuzzer
# itself to the fuzz executables only.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DADS_FUZZ=ON -DADS_BUILD_TESTS=OFF \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer" \
  >/dev/null
cmake --build "$build" --target fuzzers -j "$jobs"

failed=()
summary=()
for t in "${targets[@]}"; do
  work=$build/corpus-work/$t
  crashes=$build/crashes/$t
  log=$build/logs/$t.log
  mkdir -p "$work" "$crashes" "$(dirname "$log")"
  # The committed seeds join whatever earlier runs found; the run only ever
  # writes into the working copy.
  cp -f fuzz/corpus/"$t"/* "$work"/
  echo "fuzz: $t for ${seconds}s"
  rc=0
  "$build/fuzz/$t" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$crashes/" "$work" >"$log" 2>&1 || rc=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  if [ "$rc" -ne 0 ]; then
    failed+=("$t")
    summary+=("$(printf '%-18s FAILED (exit %s) after %s executions; log %s' "$t" "$rc" "${execs:-?}" "$log")")
    tail -n 40 "$log" >&2
  else
    summary+=("$(printf '%-18s ok  %s executions' "$t" "${execs:-?}")")
  fi
done

echo
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: failed: ${failed[*]}; inputs that fail are in $build/crashes/<target>/" >&2
  exit 1
fi
