#!/usr/bin/env bash
# Builds the Linux and the Windows x64 presets and makes their packages with
# CPack into build/packages/: jbbview-<version>-Linux.tar.gz and
# jbbview-<version>-win64.zip (cmake/packaging.cmake says what they hold).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
out=build/packages
rm -rf "$out"
mkdir -p "$out"
for preset in linux windows; do
  echo "=== package: $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  # CPack works in a directory of its own; only the packages are kept.
  rm -rf "build/cpack/$preset"
  cpack --config "build/$preset/CPackConfig.cmake" -B "build/cpack/$preset"
  cp build/cpack/"$preset"/jbbview-* "$out"/
done
ls -l "$out"
