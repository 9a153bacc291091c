#!/usr/bin/env bash
# Builds everything and runs every test: the Linux build, the Linux build
# under AddressSanitizer and UndefinedBehaviorSanitizer, and the Windows x64
# build under wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export WINEDEBUG=-all
for preset in linux asan windows; do
  echo "=== $preset ==="
  cmake --workflow --preset "$preset"
done
