#!/usr/bin/env bash
# Builds everything and runs every test: the Linux build, the Linux build
# under AddressSanitizer and UndefinedBehaviorSanitizer, and the Windows x64
# build under wine; then each fuzz target for a bounded time (a minute, or
# JBB_FUZZ_SECONDS) on its corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export WINEDEBUG=-all
# The wine prefix is made once, before tests run two at a time: two
# programs that both find no prefix race to create it, and the loser can
# hang until CTest's timeout.
wineboot -i >/dev/null 2>&1 || true
# One wine server for the whole run: a server that shuts down while the
# next test starts makes that test fail to connect.
wineserver -p 2>/dev/null || true
for preset in linux asan; do
  echo "=== $preset ==="
  cmake --workflow --preset "$preset"
done
echo "=== windows ==="
cmake --preset windows
cmake --build --preset windows
# Every benchmark case on a small database, both builds: the script
# and the programs it starts keep working.  No time is asserted.
echo "=== benchmark smoke ==="
bash scripts/bench.sh --smoke --label smoke
bash scripts/bench_delete.sh --smoke
bench_smoke=$(mktemp -d)
bash scripts/bench_write.sh --sizes 2000 --rounds 1 --cache "$bench_smoke/write"
bash scripts/bench_tool_delete.sh --entries 2000 --deletions 100 --rounds 1 --cache "$bench_smoke/delete"
bash scripts/bench_lookup.sh --sizes 3000 --rounds 1 --warmup 0 --cache "$bench_smoke/lookup"
rm -rf "$bench_smoke"
ctest --preset windows
# The packages, made from the builds above and run from where they unpack.
echo "=== packages ==="
bash scripts/package.sh
bash tests/package/check_packages.sh

# The fuzz targets, a bounded run each on the committed corpus.
echo "=== fuzz ==="
cmake --preset fuzz
cmake --build --preset fuzz -j2
smoke=$(mktemp -d)
trap 'rm -rf "$smoke"' EXIT
failed=0
for target in view delete; do
  if ! bash scripts/fuzz.sh "$target" "${JBB_FUZZ_SECONDS:-60}" "$smoke/$target"; then
    failed=1
    grep -B2 -A30 -E "ERROR|runtime error|check failed" "$smoke/$target/log" | head -80 || true
  fi
done
[ "$failed" -eq 0 ] || { echo "fuzz: findings above (logs in the fuzz step's output)" >&2; exit 1; }
