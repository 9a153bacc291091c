#!/usr/bin/env bash
# Benchmark of jbbtool's lookups: get of one key, and dump --prefix of a
# folder of about a thousand keys, in generated databases of each size,
# against the program's start (jbbtool --version) and the viewer's count
# run of the same database.  Prints each case's median time, the time
# beyond the start, and peak private (anonymous) memory, from jbbbench.
#
#   scripts/bench_lookup.sh [--sizes "N M ..."] [--rounds R] [--warmup W]
#                           [--tool PATH] [--viewer PATH] [--cache DIR]
#                           [--key K] [--prefix P] [--label TEXT]
#
# The databases (genN.jbbdb from jbbbuild --generate N) are kept in the
# cache folder.  The prefix is a folder of every generated database of
# 10^6 entries or more (about 800 keys at 10^7); the rows it gives are
# counted and shown.  The key is --key, or the prefix's first (the
# database's first where the prefix has none).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

sizes="1000000 10000000"
rounds=5
warmup=1
tools="$root/build/linux/tools"
tool="$tools/jbbtool"
viewer="$root/build/linux/src/viewer/jbbview"
cache="$root/build/bench-lookup"
key=""
prefix="/home/user1/build/mail/d"
label="current"

usage() {
  sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
}

while [ $# -gt 0 ]; do
  case "$1" in
    --sizes) sizes="$2"; shift ;;
    --rounds) rounds="$2"; shift ;;
    --warmup) warmup="$2"; shift ;;
    --tool) tool="$2"; shift ;;
    --viewer) viewer="$2"; shift ;;
    --cache) cache="$2"; shift ;;
    --key) key="$2"; shift ;;
    --prefix) prefix="$2"; shift ;;
    --label) label="$2"; shift ;;
    *) usage ;;
  esac
  shift
done

cmake --build "$root/build/linux" --target jbbbuild jbbtool jbbview jbbbench >/dev/null
mkdir -p "$cache"
cache="$(cd "$cache" && pwd)"
cd "$cache"
for n in $sizes; do
  [ -f "gen$n.jbbdb" ] || "$tools/jbbbuild" --out "gen$n.jbbdb" --generate "$n" >/dev/null
done

plan_line() {
  local IFS=$'\t'
  printf '%s\n' "$*"
}

{
  plan_line "start" 0 - "$tool" --version
  for n in $sizes; do
    # The key looked up: --key, or the first of the prefix's (generated
    # keys hold no character the text dump escapes).
    k="$key"
    first='/^"/ && !done { print substr($1, 2, length($1) - 2); done = 1 }'
    [ -n "$k" ] || k=$("$tool" dump "gen$n.jbbdb" --prefix "$prefix" | awk -F '\t' "$first")
    # A small database may hold no key with the prefix: its first key, then.
    [ -n "$k" ] || k=$("$tool" dump "gen$n.jbbdb" --from / | awk -F '\t' "$first")
    plan_line "get.$n" 0 - "$tool" get "gen$n.jbbdb" "$k"
    plan_line "prefix.$n" 0 - "$tool" dump "gen$n.jbbdb" --prefix "$prefix"
    plan_line "count.$n" 0 - "$viewer" "gen$n"
  done
} >"plan.$label.tsv"
echo "bench_lookup: $label: sizes $sizes, $rounds rounds after $warmup warm-up" >&2
"$root/build/linux/tools/jbbbench" run --plan "plan.$label.tsv" --rounds "$rounds" --warmup "$warmup" >"summary.$label.tsv"
for n in $sizes; do
  rows=$("$tool" dump "gen$n.jbbdb" --prefix "$prefix" | grep -c '^"' || true)
  echo "prefix.$n: $rows keys start with $prefix" >&2
done
# name, median time, time beyond the start, peak private memory (MB)
awk -F '\t' 'NR == 1 { for (i = 1; i <= NF; ++i) col[$i] = i; next }
  { t[NR] = $col["median_ms"]; name[NR] = $1; mem[NR] = $col["anon_max_kb"] / 1024; if ($1 == "start") start = t[NR] }
  END { for (i = 2; i <= NR; ++i)
          printf "%-20s %10.1f ms %10.1f ms beyond start %8.1f MB\n", name[i], t[i], t[i] - start, mem[i] }' \
  "summary.$label.tsv" | tee "table.$label.txt"
