#!/usr/bin/env bash
# Runs one fuzz target of the fuzz preset for a given time.
#   scripts/fuzz.sh TARGET SECONDS [WORKDIR]
# TARGET is view or delete.  The working corpus starts from the committed
# one (fuzz/corpus/TARGET and the saved findings) and lives in WORKDIR/corpus (default
# build/fuzz/campaign/TARGET); findings go to WORKDIR/findings, the log to
# WORKDIR/log.  A finding does not end the run: the target is started
# again on the grown corpus until the time is up, and the script exits 1
# when anything was found.  The executions of every start are added up in
# WORKDIR/executions.  Inputs are at most JBB_FUZZ_MAX_LEN bytes (12000):
# small images keep an execution fast; deep trees fit in that with short keys.
set -uo pipefail
cd "$(dirname "$0")/.."
target=$1
seconds=$2
work=${3:-build/fuzz/campaign/$target}
binary=build/fuzz/fuzz/fuzz_$target
[ -x "$binary" ] || { echo "fuzz.sh: $binary is missing: cmake --build --preset fuzz" >&2; exit 2; }
mkdir -p "$work/corpus" "$work/findings"
cp -n fuzz/corpus/"$target"/* fuzz/regressions/"$target"/* "$work/corpus/" 2>/dev/null || true
# Short allocation stacks and a small quarantine keep an execution fast; a
# finding replayed alone (see the README) reports in full.
export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1:abort_on_error=1:malloc_context_size=5:quarantine_size_mb=32
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
[ -f "$work/executions" ] || echo 0 >"$work/executions"
# The image of each execution goes to a directory of this run, in memory
# where the system has /dev/shm; it goes when the run ends.
images=$(mktemp -d /dev/shm/jbbfuzz.XXXXXX 2>/dev/null || mktemp -d)
trap 'rm -rf "$images"' EXIT
export JBB_FUZZ_DIR=$images
end=$(($(date +%s) + seconds))
found=0
while :; do
  left=$((end - $(date +%s)))
  [ "$left" -gt 0 ] || break
  touch "$work/log"
  start_log=$(wc -l <"$work/log" 2>/dev/null || echo 0)
  "$binary" -max_total_time="$left" -rss_limit_mb=2048 -malloc_limit_mb=512 -timeout=10 \
    -max_len="${JBB_FUZZ_MAX_LEN:-12000}" -entropic=0 -dict=fuzz/jbbdb.dict -print_final_stats=1 -artifact_prefix="$work/findings/" \
    "$work/corpus" >>"$work/log" 2>&1
  rc=$?
  runs=$(tail -n +"$((start_log + 1))" "$work/log" | sed -n 's/^stat::number_of_executed_units: *//p' | tail -1)
  if [ -z "$runs" ]; then  # no final statistics: the last progress line
    runs=$(tail -n +"$((start_log + 1))" "$work/log" | sed -n 's/^#\([0-9]*\).*/\1/p' | tail -1)
  fi
  echo $(($(cat "$work/executions") + ${runs:-0})) >"$work/executions"
  [ "$rc" -eq 0 ] && break
  found=1
  echo "fuzz.sh: $target: finding (exit $rc), see $work/findings; starting again" >>"$work/log"
done
echo "fuzz.sh: $target: $(cat "$work/executions") executions in all, corpus $(ls "$work/corpus" | wc -l) inputs"
[ "$found" -eq 0 ]
