#!/usr/bin/env bash
# The viewer killed (SIGKILL) at a random moment of a long deletion session,
# many times over one journal.  After each kill the next count run recovers
# what the kill cut off and must then count right: the journal holds the
# entries before the session minus every deletion reported completed, and
# minus at most the one deletion in flight when the kill came; it is sound
# (jbbtool verify) and no rollback file is left.
#
#   killed.sh JBBVIEW JBBTOOL JBBBUILD WORKDIR [ROUNDS]
set -uo pipefail
export LC_ALL=C
abs() { case $1 in /*) echo "$1" ;; *) echo "$PWD/$1" ;; esac; }
view=$(abs "$1") tool=$(abs "$2") build=$(abs "$3") work=$4 rounds=${5:-${JBB_KILL_ROUNDS:-25}}
dir="$(abs "$work")/killed.$$"
rm -rf "$dir" && mkdir -p "$dir"
trap 'rm -rf "$dir"' EXIT
cd "$dir" || exit 1
fail() { echo "FAILED: $*"; exit 1; }

keys_of() { printf 'List\nQuit\n' | "$view" journal i 2>&1 | sed -n 's/^\t\(\/\)/\1/p' | sort; }

"$build" --out journal.jbbdb --generate 4000 --seed 11 --type 2 --fill 6 --free-slots 20 >/dev/null || fail "jbbbuild"
keys_of >held
[ "$(wc -l <held)" -eq 4000 ] || fail "listed $(wc -l <held) of 4000 keys"

total_done=0 total_flight=0
for ((round = 1; round <= rounds; round++)); do
  # 300 deletions of keys the journal holds, in a seeded order.
  shuf -n 300 --random-source=<(yes "$round") held >targets
  awk '{ printf "Del %s\ny\n", $0 } END { print "Quit" }' targets >requests
  # Output through a pipe, so that every prompt, and what came before it,
  # is flushed as it is printed.
  rm -f out && mkfifo out
  cat out >session &
  reader=$!
  "$view" journal i <requests >out 2>&1 &
  viewer=$!
  sleep "0.$(printf '%03d' $(( (RANDOM * 7 + round * 131) % 400 + 5 )))"
  kill -KILL "$viewer" 2>/dev/null
  { wait "$viewer"; wait "$reader"; } 2>/dev/null
  # The count recovers, and must be right.
  "$view" journal >count 2>&1 || { cat count; fail "round $round: the journal no longer opens"; }
  [ -e journal.jbbdb-rollback ] && fail "round $round: the count left the rollback file"
  keys_of >now
  sed -n 's/.*Deletion of key "\(.*\)" completed\.$/\1/p' session | sort >reported
  comm -23 held now >gone
  comm -13 held now | grep -q . && fail "round $round: keys came back or appeared"
  comm -23 reported gone | grep -q . && fail "round $round: a deletion reported completed came back"
  # Beyond those reported, only the next one of the session may be gone.
  next=$(grep -v -x -F -f reported targets | head -1)
  extra=$(comm -23 gone reported)
  [ -z "$extra" ] || [ "$extra" = "$next" ] || { echo "$extra"; fail "round $round: entries lost beyond the deletion in flight"; }
  count=$(sed -n 's/^     Number of DB Entries    //p' count)
  [ "$count" -eq "$(wc -l <now)" ] || fail "round $round: count $count, but $(wc -l <now) keys listed"
  "$tool" verify journal.jbbdb >verify 2>&1 || { cat verify; fail "round $round: verify"; }
  total_done=$((total_done + $(wc -l <reported)))
  [ -n "$extra" ] && total_flight=$((total_flight + 1))
  mv now held
done
echo "$rounds kills: $total_done deletions reported and kept, $total_flight in flight found complete; $(wc -l <held) entries left, sound"
