#!/usr/bin/env bash
# Installs what the build needs (on Debian 12, as root), then configures and
# builds into build/. Safe to run again: it only does what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-packages.sh cmake g++ make qtbase5-dev libqt5serialport5-dev "$@"

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
