#!/usr/bin/env bash
# Installs what the build needs (on Debian 12, as root), then configures and
# builds into build/. Safe to run again: it only does what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-packages.sh cmake g++ make qtbase5-dev libqt5serialport5-dev "$@"

# ADS_WERROR=ON (the test command sets it) makes every warning an error.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
  -DADS_WERROR="${ADS_WERROR:-OFF}" >/dev/null
cmake --build build -j "$(nproc)"
