#!/usr/bin/env bash
# Builds what is missing and runs the whole test suite:
#   1. the suite built with AddressSanitizer and UndefinedBehaviorSanitizer,
#      halting on the first report (build-asan/);
#   2. the suites that run the simulated controller on a thread of its own,
#      built with ThreadSanitizer (build-tsan/);
#   3. the end-to-end test under valgrind memcheck;
#   4. every fuzz target for a bounded time (build-fuzz/);
#   5. the Debian packages: built hardened, lintian, hardening-check,
#      installed with hosts built against them and removed in a throwaway
#      root, and built again at another path to be bit-identical;
#   6. the label library's binary contract against its reference (abidiff);
#   7. the format of every source against .clang-format;
#   8. clang-tidy's bugprone and performance checks over the product code;
#   9. the suite itself (build/), ending with ctest's summary.
# Every build treats warnings as errors. With --quick, only step 9.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

quick=0
[ "${1:-}" = "--quick" ] && quick=1

export ADS_WERROR=ON
# pkg-config: the install test builds a qmake host from the installed beckhoff-ads.pc.
# iproute2: a test shapes a loopback of its own (ip, tc) in a network namespace.
bash scripts/setup.sh valgrind clang-format clang-tidy pkg-config iproute2

if [ "$quick" = 0 ]; then
  echo "== the suite under AddressSanitizer and UndefinedBehaviorSanitizer"
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DADS_SANITIZE=ON -DADS_WERROR=ON >/dev/null
  cmake --build build-asan -j "$jobs"
  (cd build-asan &&
   ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1 \
   UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
   LSAN_OPTIONS=suppressions="$PWD/../tests/lsan.supp" \
   ctest --output-on-failure -j "$jobs")

  echo "== the suites on the simulator's thread under ThreadSanitizer"
  cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DADS_THREAD_SANITIZE=ON -DADS_WERROR=ON >/dev/null
  cmake --build build-tsan -j "$jobs"
  (cd build-tsan &&
   TSAN_OPTIONS="suppressions=$PWD/../tests/tsan.supp halt_on_error=1" \
   ctest --output-on-failure -j "$jobs" -R 'tst_(link|endtoend|faults|recovery|routes|symbols|strings|programs|health|notify|simulator|soak)$')

  echo "== the end-to-end test under valgrind memcheck"
  ADS_PLUGIN="$PWD/build/lib/libBeckhoff_ADS.so" QT_QPA_PLATFORM=offscreen \
    valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \
    --show-leak-kinds=definite --suppressions=tests/valgrind.supp \
    build/bin/tst_endtoend >/tmp/ads-valgrind.log 2>&1 || { cat /tmp/ads-valgrind.log; exit 1; }
  tail -n 3 /tmp/ads-valgrind.log

  if [ -f scripts/fuzz.sh ]; then
    echo "== fuzz targets"
    bash scripts/fuzz.sh 30
  fi

  echo "== the Debian packages"
  bash scripts/package.sh --reproducible

  echo "== the binary contract of the label library"
  bash scripts/install-packages.sh abigail-tools
  bash packaging/abi/check-abi.sh build/lib/libCLabelVariable.so.1
  bash packaging/abi/check-abi.sh --self-test

  echo "== the format of the sources"
  bash scripts/check-format.sh

  echo "== clang-tidy over link/, driver/ and value/"
  git ls-files 'link/*.cpp' 'driver/*.cpp' 'value/*.cpp' | xargs clang-tidy -p build --quiet

fi

echo "== the suite"
cd build
# Most of the suite waits on sockets, terminals and timers, not on the CPU:
# two jobs per core keep the cores busy.
ctest --output-on-failure -j "$((jobs * 2))"
