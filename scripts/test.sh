#!/usr/bin/env bash
# Builds what is missing and runs the whole test suite; ends with ctest's summary.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cd build
ctest --output-on-failure -j "$(nproc)"
