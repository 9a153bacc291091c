#!/usr/bin/env bash
# Benchmark of jbbtool delete: D distinct random keys of a generated
# database of N entries deleted from a fresh copy of it, as a list
# (--keys-from), in batches of the default size and of --batch B (50), beside
# verify of the same file (the check every deletion starts with).  Prints
# each case's median time and peak private memory (from jbbbench), then
# the syncs one run makes (fsync and fdatasync, counted with strace -c).
#
#   scripts/bench_tool_delete.sh [--entries N] [--deletions D] [--batch B]
#                                [--rounds R] [--tool PATH] [--cache DIR]
#                                [--label TEXT]
#
# The database (genN.jbbdb, from jbbbuild --generate N) and the key list
# are kept in the cache folder (build/bench-tool-delete); the copy that is
# changed lies there too, so the syncs reach the disk that holds it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

entries=1000000
deletions=10000
batch=50
rounds=3
tools="$root/build/linux/tools"
tool="$tools/jbbtool"
cache="$root/build/bench-tool-delete"
label="current"

usage() {
  sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
}

while [ $# -gt 0 ]; do
  case "$1" in
    --entries) entries="$2"; shift ;;
    --deletions) deletions="$2"; shift ;;
    --batch) batch="$2"; shift ;;
    --rounds) rounds="$2"; shift ;;
    --tool) tool="$2"; shift ;;
    --cache) cache="$2"; shift ;;
    --label) label="$2"; shift ;;
    *) usage ;;
  esac
  shift
done

cmake --build "$root/build/linux" --target jbbbuild jbbtool jbbbench >/dev/null
mkdir -p "$cache"
cache="$(cd "$cache" && pwd)"
cd "$cache"
db="gen$entries.jbbdb"
keys="keys$entries.$deletions.txt"
[ -f "$db" ] || "$tools/jbbbuild" --out "$db" --generate "$entries" >/dev/null
if [ ! -f "$keys" ]; then
  # Random keys of the database (a Find session's), each once.
  "$tools/jbbbench" requests --generate "$entries" --finds $((deletions * 2)) --out finds.txt
  sed -n 's/^find //p' finds.txt | awk -v d="$deletions" '!seen[$0]++ && n < d { print; ++n }' >"$keys"
  rm -f finds.txt
  [ "$(wc -l <"$keys")" -eq "$deletions" ] || { echo "bench_tool_delete: too few distinct keys" >&2; exit 1; }
fi

plan_line() {
  local IFS=$'\t'
  printf '%s\n' "$*"
}
{
  plan_line "verify.$entries" 0 - "$tool" verify "$db"
  plan_line "copy" 0 - cp "$db" work.jbbdb
  plan_line "delete.$deletions.default" 0 - "$tool" delete work.jbbdb --keys-from "$keys"
  plan_line "copy" 0 - cp "$db" work.jbbdb
  plan_line "delete.$deletions.batch$batch" 0 - "$tool" delete work.jbbdb --keys-from "$keys" --batch "$batch"
} >"plan.$label.tsv"
echo "bench_tool_delete: $label: $deletions of $entries entries, $rounds rounds" >&2
"$tools/jbbbench" run --plan "plan.$label.tsv" --rounds "$rounds" >"summary.$label.tsv"
awk -F '\t' 'NR == 1 { for (i = 1; i <= NF; ++i) col[$i] = i; next }
  $1 != "copy" { printf "%-28s %10.0f ms %10.1f MB\n", $1, $col["median_ms"], $col["anon_max_kb"] / 1024 }' \
  "summary.$label.tsv" | tee "table.$label.txt"

# The syncs of one run of each batch size (where strace is installed).
command -v strace >/dev/null || { echo "bench_tool_delete: no strace, so syncs are not counted" >&2; exit 0; }
for b in default "$batch"; do
  cp "$db" work.jbbdb
  opt=()
  [ "$b" = default ] || opt=(--batch "$b")
  strace -f -c -o "strace.$b.txt" -e trace=fsync,fdatasync "$tool" delete work.jbbdb --keys-from "$keys" \
    "${opt[@]}" >/dev/null
  syncs="$(awk '$NF == "fsync" || $NF == "fdatasync" { n += $4 } END { print n + 0 }' "strace.$b.txt")"
  printf '%-28s %10s syncs\n' "syncs.batch$b" "$syncs" | tee -a "table.$label.txt"
done
rm -f work.jbbdb
