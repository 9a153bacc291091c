#!/usr/bin/env bash
# Benchmark of the Del request: what one deletion costs on an ordinary disk
# and on tmpfs (the file system in memory, where a sync costs nothing), and
# the reading runs (count, Finds, List) beside it; for this tree's Linux
# viewer and, when given, another build side by side in the same run.
#
#   scripts/bench_delete.sh [--smoke] [--entries N] [--deletions D]
#                           [--rounds R] [--before PATH] [--cache DIR]
#
# Per Del: the milliseconds of a session of D deletions less those of a
# session that only quits, over D (median of R rounds, the database copied
# afresh before each); the syncs (fsync, fdatasync) and writes (pwrite,
# write to files) it makes, counted with strace.  Reading runs: the median
# milliseconds of the count run, of a session of 2,000 Finds and of List,
# and their ratio to the other build's.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

entries=100000
deletions=300
rounds=5
before=""
cache="$root/build/bench"
while [ $# -gt 0 ]; do
  case "$1" in
    --smoke) entries=20000; deletions=40; rounds=2 ;;
    --entries) entries="$2"; shift ;;
    --deletions) deletions="$2"; shift ;;
    --rounds) rounds="$2"; shift ;;
    --before) before="$2"; shift ;;
    --cache) cache="$2"; shift ;;
    *) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
  esac
  shift
done

cmake --build "$root/build/linux" --target jbbview jbbbuild jbbbench >/dev/null
after="$root/build/linux/src/viewer/jbbview"
tools="$root/build/linux/tools"
mkdir -p "$cache"
cache="$(cd "$cache" && pwd)"
db="$cache/del$entries.jbbdb"
[ -f "$db" ] || "$tools/jbbbuild" --out "$db" --generate "$entries" --free-slots 50 >/dev/null
have_strace=1
command -v strace >/dev/null || have_strace=0

shm="/dev/shm/jbbbench.$$"
disk="$cache/deldisk.$$"
mkdir -p "$shm" "$disk"
trap 'rm -rf "$shm" "$disk"' EXIT

# D distinct keys of the database, in a random order, as Del requests.
"$tools/jbbbench" requests --generate "$entries" --finds "$deletions" --pick-seed 3 --out "$cache/delpick.txt"
sed -n "s/^[Ff]ind //p" "$cache/delpick.txt" | awk '!seen[$0]++ { printf "del %s\ny\n", $0 } END { print "quit" }' \
  >"$cache/del.txt"
dels=$(grep -c '^del ' "$cache/del.txt")
"$tools/jbbbench" requests --generate "$entries" --finds 2000 --pick-seed 5 --out "$cache/delfinds.txt"
printf 'quit\n' >"$cache/delquit.txt"
printf 'list\nquit\n' >"$cache/dellist.txt"

now_ms() { date +%s%N | awk '{ printf "%.3f", $1 / 1e6 }'; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# One timed run of the viewer on a fresh copy of the database in $2.
timed() {  # viewer folder requests interactive
  cp "$db" "$2/j.jbbdb"
  local t0 t1
  t0=$(now_ms)
  if [ "$4" = i ]; then "$1" "$2/j" i <"$3" >/dev/null; else "$1" "$2/j" >/dev/null </dev/null; fi
  t1=$(now_ms)
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f\n", b - a }'
}

# Median ms of R rounds, the builds' rounds taking turns.
declare -A samples
measure() {  # key viewer folder requests interactive
  samples[$1]+="$(timed "$2" "$3" "$4" "$5") "
}

builds=(after)
[ -n "$before" ] && builds=(before after)
viewer_of() { [ "$1" = before ] && echo "$before" || echo "$after"; }

for ((r = 0; r < rounds; r++)); do
  for b in "${builds[@]}"; do
    v=$(viewer_of "$b")
    for place in disk shm; do
      dir=$disk; [ "$place" = shm ] && dir=$shm
      measure "$b.$place.del" "$v" "$dir" "$cache/del.txt" i
      measure "$b.$place.quit" "$v" "$dir" "$cache/delquit.txt" i
    done
    measure "$b.count" "$v" "$shm" /dev/null -
    measure "$b.finds" "$v" "$shm" "$cache/delfinds.txt" i
    measure "$b.list" "$v" "$shm" "$cache/dellist.txt" i
  done
done
med() { tr ' ' '\n' <<<"${samples[$1]}" | grep . | median; }

# Syncs and writes of one session of deletions, from strace's count.
calls() {  # viewer folder
  cp "$db" "$2/j.jbbdb"
  strace -f -qq -c -o "$cache/strace.txt" -e trace=fsync,fdatasync,pwrite64,pwritev,write "$1" "$2/j" i \
    <"$cache/del.txt" >/dev/null
  awk '$NF ~ /^(fsync|fdatasync)$/ { s += $4 } $NF ~ /^(pwrite64|pwritev)$/ { w += $4 }
       END { printf "%d %d\n", s, w }' "$cache/strace.txt"
}

echo
echo "Del on a database of $entries entries ($dels deletions a session, median of $rounds rounds):"
echo
echo "| build | place | ms per Del | syncs per Del | database and rollback writes per Del |"
echo "|---|---|---|---|---|"
for b in "${builds[@]}"; do
  v=$(viewer_of "$b")
  for place in disk shm; do
    dir=$disk; [ "$place" = shm ] && dir=$shm
    per=$(awk -v a="$(med "$b.$place.del")" -v q="$(med "$b.$place.quit")" -v d="$dels" 'BEGIN { printf "%.3f", (a - q) / d }')
    syncs="-" writes="-"
    if [ "$have_strace" = 1 ]; then
      read -r s w <<<"$(calls "$v" "$dir")"
      syncs=$(awk -v s="$s" -v d="$dels" 'BEGIN { printf "%.2f", s / d }')
      writes=$(awk -v w="$w" -v d="$dels" 'BEGIN { printf "%.2f", w / d }')
    fi
    name=$place; [ "$place" = shm ] && name=tmpfs
    echo "| $b | $name | $per | $syncs | $writes |"
  done
done
echo
echo "Reading runs on tmpfs (ms, median of $rounds rounds):"
echo
if [ -n "$before" ]; then
  echo "| run | before | after | after / before |"
  echo "|---|---|---|---|"
  for run in count finds list; do
    awk -v r="$run" -v a="$(med "before.$run")" -v b="$(med "after.$run")" \
      'BEGIN { printf "| %s | %.1f | %.1f | %.2f |\n", r, a, b, (a > 0 ? b / a : 0) }'
  done
else
  echo "| run | ms |"
  echo "|---|---|"
  for run in count finds list; do echo "| $run | $(med "after.$run") |"; done
fi
