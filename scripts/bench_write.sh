#!/usr/bin/env bash
# Benchmark of the commands that read or write a whole database: jbbbuild
# --generate N, and jbbtool load (of its own dump, and of that dump with
# its entry lines shuffled), compact --out, salvage --out, verify and
# dump.  Prints each case's median time and peak private (anonymous)
# memory, from jbbbench.
#
#   scripts/bench_write.sh [--sizes "N M ..."] [--rounds R] [--warmup W]
#                          [--tool PATH] [--builder PATH] [--cache DIR]
#                          [--label TEXT] [--only RE]
#
# --tool and --builder measure other builds (an older one, for a
# comparison); the inputs are always made with this tree's builder and
# tool.  Every written file is removed after its run.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

sizes="1000000 10000000"
rounds=3
warmup=0
tools="$root/build/linux/tools"
tool="$tools/jbbtool"
builder="$tools/jbbbuild"
cache="$root/build/bench-write"
label="current"
only=""

usage() {
  sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
}

while [ $# -gt 0 ]; do
  case "$1" in
    --sizes) sizes="$2"; shift ;;
    --rounds) rounds="$2"; shift ;;
    --warmup) warmup="$2"; shift ;;
    --tool) tool="$2"; shift ;;
    --builder) builder="$2"; shift ;;
    --cache) cache="$2"; shift ;;
    --label) label="$2"; shift ;;
    --only) only="$2"; shift ;;
    *) usage ;;
  esac
  shift
done

cmake --build "$root/build/linux" --target jbbbuild jbbtool jbbbench >/dev/null
mkdir -p "$cache"
cache="$(cd "$cache" && pwd)"

# gen N.jbbdb, its dump, and the dump with its entry lines shuffled.
make_inputs() {
  local n="$1"
  cd "$cache"
  [ -f "gen$n.jbbdb" ] || "$tools/jbbbuild" --out "gen$n.jbbdb" --generate "$n" >/dev/null
  [ -f "gen$n.txt" ] || "$tools/jbbtool" dump "gen$n.jbbdb" >"gen$n.txt"
  if [ ! -f "gen$n.shuffled.txt" ]; then
    local head
    head="$(grep -n -m1 '^entries$' "gen$n.txt" | cut -d: -f1)"
    {
      sed -n "1,${head}p" "gen$n.txt"
      sed -n "$((head + 1)),\$p" "gen$n.txt" | grep -v '^end ' | shuf --random-source=<(yes)
      tail -n 1 "gen$n.txt"
    } >"gen$n.shuffled.txt"
  fi
}

plan_line() {
  local IFS=$'\t'
  printf '%s\n' "$*"
}

# Each case writes out.jbbdb, which the next line removes.
write_plan() {
  for n in $sizes; do
    plan_line "build.$n" 0 - "$builder" --out out.jbbdb --generate "$n"
    plan_line "rm" 0 - rm -f out.jbbdb
    plan_line "load.$n" 0 - "$tool" load "gen$n.txt" --out out.jbbdb
    plan_line "rm" 0 - rm -f out.jbbdb
    plan_line "loadshuffled.$n" 0 - "$tool" load "gen$n.shuffled.txt" --out out.jbbdb
    plan_line "rm" 0 - rm -f out.jbbdb
    plan_line "compact.$n" 0 - "$tool" compact "gen$n.jbbdb" --out out.jbbdb
    plan_line "rm" 0 - rm -f out.jbbdb
    plan_line "salvage.$n" 0 - "$tool" salvage "gen$n.jbbdb" --out out.jbbdb
    plan_line "rm" 0 - rm -f out.jbbdb
    plan_line "verify.$n" 0 - "$tool" verify "gen$n.jbbdb"
    plan_line "dump.$n" 0 - "$tool" dump "gen$n.jbbdb"
  done | awk -F '\t' -v only="$only" '$1 == "rm" || only == "" || $1 ~ only'
}

for n in $sizes; do make_inputs "$n"; done
cd "$cache"
write_plan >"plan.$label.tsv"
echo "bench_write: $label: sizes $sizes, $rounds rounds after $warmup warm-up" >&2
"$tools/jbbbench" run --plan "plan.$label.tsv" --rounds "$rounds" --warmup "$warmup" >"summary.$label.tsv"
# name, median time, peak private memory (the highest of the rounds, MB)
awk -F '\t' 'NR == 1 { for (i = 1; i <= NF; ++i) col[$i] = i; next }
  $1 != "rm" { printf "%-24s %10.0f ms %10.1f MB\n", $1, $col["median_ms"], $col["anon_max_kb"] / 1024 }' \
  "summary.$label.tsv" | tee "table.$label.txt"
