#!/usr/bin/env bash
# Benchmark of the viewer: the count run, random Finds in one session and
# List of every entry, for the Linux build and for the Windows build under
# wine, each against `cat` of the same database; and jbbtool's verify and
# dumps against the viewer's count run.  Prints a table of medians, ratios
# and peak private (anonymous) memory.  See README, "Benchmarks".
#
#   scripts/bench.sh [--smoke] [--sizes "N M ..."] [--rounds R] [--warmup W]
#                    [--viewer PATH] [--viewer-exe PATH | --no-wine]
#                    [--tool PATH] [--tool-exe PATH]
#                    [--cache DIR] [--label TEXT] [--only RE] [--skip RE]
#
# Every command is started directly by jbbbench (no shell in front of it),
# its output to /dev/null.  The first size gets every case; the other sizes
# get the count run only, compared with the first size's count run.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

sizes="1000000 10000000"
rounds=5
warmup=1
viewer="$root/build/linux/src/viewer/jbbview"
viewer_exe="$root/build/windows/src/viewer/jbbview.exe"
tool="$root/build/linux/tools/jbbtool"
tool_exe="$root/build/windows/tools/jbbtool.exe"
cache="$root/build/bench"
label="current"
only=""
skip=""
finds=10000
own_viewer=1
own_exe=1
own_tool=1
own_tool_exe=1

usage() {
  sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
}

while [ $# -gt 0 ]; do
  case "$1" in
    --smoke) sizes=100000; rounds=2; warmup=1; finds=1000 ;;
    --sizes) sizes="$2"; shift ;;
    --rounds) rounds="$2"; shift ;;
    --warmup) warmup="$2"; shift ;;
    --viewer) viewer="$2"; own_viewer=0; shift ;;
    --viewer-exe) viewer_exe="$2"; own_exe=0; shift ;;
    --no-wine) viewer_exe="" ;;
    --tool) tool="$2"; own_tool=0; shift ;;
    --tool-exe) tool_exe="$2"; own_tool_exe=0; shift ;;
    --cache) cache="$2"; shift ;;
    --label) label="$2"; shift ;;
    --only) only="$2"; shift ;;
    --skip) skip="$2"; shift ;;
    *) usage ;;
  esac
  shift
done

tools="$root/build/linux/tools"
builder="$tools/jbbbuild"
bench="$tools/jbbbench"
wine_loader="${JBB_WINE_LOADER:-/usr/lib/wine/wine64}"

# The measuring tools always come from this tree's Linux build; so does the
# viewer unless another one is named (an older build, for a comparison).
build_targets() {
  local targets=(jbbbuild jbbbench)
  [ "$own_viewer" = 1 ] && targets+=(jbbview)
  [ "$own_tool" = 1 ] && targets+=(jbbtool)
  cmake --build "$root/build/linux" --target "${targets[@]}" >/dev/null
  local exes=()
  [ "$own_exe" = 1 ] && exes+=(jbbview)
  [ "$own_tool_exe" = 1 ] && exes+=(jbbtool)
  if [ -n "$viewer_exe" ] && [ "${#exes[@]}" -gt 0 ]; then
    cmake --build "$root/build/windows" --target "${exes[@]}" >/dev/null
  fi
}

check_inputs() {
  for f in "$builder" "$bench" "$viewer" "$tool"; do
    [ -x "$f" ] || { echo "bench: $f is missing (configure the linux preset first)" >&2; exit 1; }
  done
  if [ -n "$viewer_exe" ]; then
    for f in "$viewer_exe" "$tool_exe"; do
      [ -f "$f" ] || { echo "bench: $f is missing (or give --no-wine)" >&2; exit 1; }
    done
    [ -x "$wine_loader" ] || { echo "bench: no wine loader at $wine_loader" >&2; exit 1; }
    export WINEDEBUG=-all
    # One wine server for all runs, so that none of them pays its start.
    wineserver -p 2>/dev/null || true
  fi
}

# The database of n generated entries, built once and kept in the cache.
make_database() {
  local n="$1" db="$cache/gen$1.jbbdb"
  if [ ! -f "$db" ]; then
    echo "bench: building $db" >&2
    "$builder" --out "$db.tmp" --generate "$n" >"$cache/gen$n.log"
    mv "$db.tmp" "$db"
  fi
}

# Request files of the first size's sessions.
make_requests() {
  local n="$1"
  [ -f "$cache/gen$n.find$finds.txt" ] ||
    "$bench" requests --generate "$n" --finds "$finds" --out "$cache/gen$n.find$finds.txt"
  # The same pick seed: the one Find is the first Find of the long session.
  [ -f "$cache/gen$n.find1.txt" ] || "$bench" requests --generate "$n" --finds 1 --out "$cache/gen$n.find1.txt"
  printf 'quit\n' >"$cache/quit.txt"
  printf 'list\nquit\n' >"$cache/list.txt"
}

# plan_line NAME EXIT STDIN PROGRAM ARGS...: one tab-separated plan line.
plan_line() {
  local IFS=$'\t'
  printf '%s\n' "$*"
}

# The cases of one viewer build: $1 is the name prefix, the rest the
# program and its leading arguments (the wine loader and the .exe).
viewer_cases() {
  local p="$1" n="$2" full="$3"
  shift 3
  plan_line "$p.count.$n" 0 - "$@" "gen$n"
  [ "$full" = 1 ] || return 0
  plan_line "$p.session.$n" 0 quit.txt "$@" "gen$n" i
  plan_line "$p.find1.$n" 0 "gen$n.find1.txt" "$@" "gen$n" i
  plan_line "$p.finds.$n" 0 "gen$n.find$finds.txt" "$@" "gen$n" i
  plan_line "$p.list.$n" 0 list.txt "$@" "gen$n" i
}

# jbbtool's read-only runs on the first size's database: $1 is the name
# prefix, the rest the program and its leading arguments.
tool_cases() {
  local p="$1" n="$2"
  shift 2
  plan_line "$p.verify.$n" 0 - "$@" verify "gen$n.jbbdb"
  plan_line "$p.dump.$n" 0 - "$@" dump "gen$n.jbbdb"
  plan_line "$p.dumpcsv.$n" 0 - "$@" dump "gen$n.jbbdb" --format csv
  plan_line "$p.dumpjson.$n" 0 - "$@" dump "gen$n.jbbdb" --format json
}

write_plan() {
  local first=1
  for n in $sizes; do
    plan_line "cat.$n" 0 - cat "gen$n.jbbdb"
    viewer_cases linux "$n" "$first" "$viewer"
    [ "$first" = 1 ] && tool_cases tool "$n" "$tool"
    if [ -n "$viewer_exe" ]; then
      # Wine's own start: the program with no argument prints its usage and
      # ends with -1 (255), reading no database.
      [ "$first" = 1 ] && plan_line "wine.start" 255 - "$wine_loader" "$viewer_exe"
      plan_line "cat.$n" 0 - cat "gen$n.jbbdb"
      viewer_cases windows "$n" "$first" "$wine_loader" "$viewer_exe"
      [ "$first" = 1 ] && tool_cases wintool "$n" "$wine_loader" "$tool_exe"
    fi
    first=0
  done
}

index_sizes() {
  for n in $sizes; do
    printf '%s\t' "$n"
    "$bench" index-size "$cache/gen$n.jbbdb"
  done
}

mkdir -p "$cache"
cache="$(cd "$cache" && pwd)"
build_targets
check_inputs
first_size="${sizes%% *}"
for n in $sizes; do make_database "$n"; done
make_requests "$first_size"
# --only and --skip keep or drop cases by name (an extended regular
# expression matched against names such as windows.list.1000000).
filter_plan() {
  awk -F '\t' -v only="$only" -v skip="$skip" \
    '(only == "" || $1 ~ only) && (skip == "" || $1 !~ skip)'
}

write_plan | filter_plan >"$cache/plan.$label.tsv"
index_sizes >"$cache/index.tsv"

cd "$cache"
echo "bench: $label: sizes $sizes, $rounds rounds after $warmup warm-up" >&2
"$bench" run --plan "plan.$label.tsv" --rounds "$rounds" --warmup "$warmup" \
  --samples "samples.$label.tsv" >"summary.$label.tsv"
awk -f "$root/scripts/bench_table.awk" -v label="$label" -v sizes="$sizes" -v finds="$finds" \
  index.tsv "summary.$label.tsv" | tee "table.$label.md"
