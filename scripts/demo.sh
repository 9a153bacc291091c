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
# A valid change journal of 2500 entries for server SERVER, node NODE1.
"$bin/tools/jbbbuild" --out "$sample.jbbdb" --generate 2500 --seed 1 \
  --type 1 --state 2 --activation 1700000000 --validation 1700086400 \
  --max-size 5368709120 --server SERVER --node NODE1 --fs /home
"$bin/src/viewer/jbbview" "$sample" "$@"
