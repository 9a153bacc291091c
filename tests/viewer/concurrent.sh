#!/usr/bin/env bash
# Two programs on one journal, as users run them: the real viewer and
# jbbtool, each a process of its own (through wine for the Windows build).
#
#  1. Two interactive sessions on one file, taking turns at Del: while both
#     have it open every deletion is refused, saying the journal is in use;
#     once one quits, the other's deletions complete.
#  2. A count while a session has the file open: it counts right and leaves
#     the file's bytes and time of change as they were.
#  3. jbbtool compact while a session has the file open: refused (exit 1,
#     in use), nothing changed; after the session quits it compacts.
# Each part ends with a sound file holding exactly the original entries
# minus the deletions reported completed.
#
#   concurrent.sh JBBVIEW JBBTOOL JBBBUILD WORKDIR [EMULATOR]
set -uo pipefail
export LC_ALL=C
abs() { case $1 in /*) echo "$1" ;; *) echo "$PWD/$1" ;; esac; }
view=$(abs "$1") tool=$(abs "$2") build=$(abs "$3") work=$4 emu=${5:-}
dir="$(abs "$work")/concurrent.$$"
rm -rf "$dir" && mkdir -p "$dir"
# The programs get names relative to the folder: a Windows program takes
# a name that begins with "/" for an option.
cd "$dir" || exit 1
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT
fail() { echo "FAILED: $*"; exit 1; }

run() { $emu "$@"; }  # a program of the build under test
db=journal

# The keys the viewer lists (an incremental journal lists one key a line).
keys_of() { printf 'List\nQuit\n' | run "$view" "$1" i 2>&1 | tr -d '\r' | sed -n 's/^\t\(\/\)/\1/p' | sort; }
count_of() { run "$view" "$1" 2>&1 | tr -d '\r' | sed -n 's/^     Number of DB Entries    //p'; }
stamp() { stat -c '%s %Y %y' "$1"; md5sum <"$1"; }

# An interactive session: standard input a fifo held open, output through
# a pipe (so that every prompt is flushed) into a file.
start_session() {  # name
  local n=$1
  mkfifo "$dir/$n.in"
  exec {fd}<>"$dir/$n.in"
  eval "fd_$n=$fd"
  # cat passes on what it reads at once (tr would hold it back).
  run "$view" "$db" i <"$dir/$n.in" 2>&1 | cat >"$dir/$n.out" &
  pids+=($!)
  eval "pid_$n=$!"
  wait_for "$n" 'Please enter your request: ' 1
}
send() { local fd; eval "fd=\$fd_$1"; printf '%s\n' "$2" >&"$fd"; }
# Waits until the session's output holds `count` of `text`.
wait_for() {  # name text count
  local i
  for ((i = 0; i < 600; i++)); do
    [ "$(grep -o -F -- "$2" "$dir/$1.out" | wc -l)" -ge "$3" ] && return 0
    sleep 0.1
  done
  echo "session $1 never printed '$2' $3 times:"; cat "$dir/$1.out"; fail "timeout"
}
quit() {  # name
  local pid
  send "$1" Quit
  eval "pid=\$pid_$1"
  wait "$pid" 2>/dev/null
}

run "$build" --out "$db.jbbdb" --generate 300 --seed 5 --type 2 --fill 5 --activation 1700000000 >/dev/null ||
  fail "jbbbuild"
keys_of "$db" >"$dir/original"
[ "$(wc -l <"$dir/original")" -eq 300 ] || fail "listed $(wc -l <"$dir/original") of 300 keys"
mapfile -t keys <"$dir/original"

# 1. Two sessions taking turns.
start_session a
start_session b
turns=0
for i in 0 1 2 3 4 5; do
  s=a; [ $((i % 2)) -eq 1 ] && s=b
  turns=$(( $(grep -c 'Total Delete Time' "$dir/$s.out") + 1 ))
  send "$s" "Del ${keys[$((i * 7))]}"
  send "$s" y
  wait_for "$s" 'Total Delete Time' "$turns"
done
refused=$(cat "$dir/a.out" "$dir/b.out" | tr -d '\r' | grep -c 'not attempted: the journal database is in use by another program\.$')
[ "$refused" -eq 6 ] || { cat "$dir/a.out" "$dir/b.out"; fail "$refused of 6 deletions refused while both were open"; }
cmp -s <(keys_of "$db") "$dir/original" && echo "both open: 6 deletions refused, nothing changed" ||
  fail "a refused deletion changed the journal"
quit b
send a "Del ${keys[0]}"
send a y
wait_for a 'Total Delete Time' 4
tr -d '\r' <"$dir/a.out" | grep -q "Deletion of key \"${keys[0]}\" completed\.\$" || { cat "$dir/a.out"; fail "alone, the deletion did not complete"; }

# 2. A count beside the open session.
before=$(stamp "$db.jbbdb")
sleep 1.1  # a write now would show in the time of change
[ "$(count_of "$db")" = 299 ] || fail "the count beside the session is not 299"
[ "$(stamp "$db.jbbdb")" = "$before" ] || fail "the count changed the file"
echo "count beside the session: 299, the file untouched"

# 3. compact beside the open session.
run "$tool" compact "$db.jbbdb" >"$dir/compact.out" 2>&1
rc=$?
[ "$rc" -eq 1 ] || { cat "$dir/compact.out"; fail "compact beside the session exited $rc, not 1"; }
grep -q 'in use' "$dir/compact.out" || { cat "$dir/compact.out"; fail "compact did not say the journal is in use"; }
[ "$(stamp "$db.jbbdb")" = "$before" ] || fail "the refused compact changed the file"
ls "$dir" | grep -q '\.bak$' && fail "the refused compact left a backup"
send a "Del ${keys[7]}"
send a y
wait_for a 'Total Delete Time' 5
quit a
tr -d '\r' <"$dir/a.out" | grep -q "Deletion of key \"${keys[7]}\" completed\.\$" || { cat "$dir/a.out"; fail "the last deletion did not complete"; }
run "$tool" compact "$db.jbbdb" >"$dir/compact.out" 2>&1 || { cat "$dir/compact.out"; fail "compact after the session"; }
echo "compact beside the session refused; after it: $(tr -d '\r' <"$dir/compact.out")"

# The journal: sound, and the original minus the two deletions reported.
run "$tool" verify "$db.jbbdb" >"$dir/verify.out" 2>&1 || { cat "$dir/verify.out"; fail "verify"; }
grep -v -x -F -e "${keys[0]}" -e "${keys[7]}" "$dir/original" >"$dir/expected"
cmp -s <(keys_of "$db") "$dir/expected" || fail "the journal holds other keys than the original minus the deletions"
[ -e "$db.jbbdb-rollback" ] && fail "a rollback file was left"
echo "the journal is sound and holds the original minus the 2 deletions reported"
