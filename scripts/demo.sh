#!/usr/bin/env bash
# The main job: builds the utility, makes a sample journal database with the
# test-database builder and runs the viewer on it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset linux >/dev/null
cmake --build --preset linux >/dev/null
bin=build/linux
sample=build/sample/journal
mkdir -p build/sample
if [ -x "$bin/tools/jbbbuild" ]; then
  "$bin/tools/jbbbuild" --out "$sample.jbbdb" --generate 2500 --type 1 --server SERVER --node NODE1 --fs /home
fi
"$bin/src/viewer/jbbview" "$sample" "$@"
