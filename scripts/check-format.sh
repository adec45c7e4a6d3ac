#!/usr/bin/env bash
# Fails when a C++ source differs from what .clang-format makes of it.
# To mend: git ls-files '*.cpp' '*.h' | xargs clang-format -i
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-packages.sh clang-format
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror
echo "format: every source as .clang-format has it"
