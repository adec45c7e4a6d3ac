#!/usr/bin/env bash
# The main job: builds what is missing, then shows the driver as a host sees it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >/dev/null
build/bin/adsctl info
