#!/usr/bin/env bash
# Deletions on a full file system, as a user meets them: a journal made by
# jbbbuild on a small tmpfs, the rest of the tmpfs filled but for a few
# pages, then one interactive session of the viewer deleting many keys.
# The first deletions complete (each needs room for its rollback file for
# a moment, and nodes that move make the journal longer); once the pages
# are used up, every deletion fails ("No space left on device").  Afterwards the journal
# must open and count, hold exactly the entries not reported deleted, each
# with its data record as the viewer lists it before the session, and be
# sound by the builder's checker.
#
#   fulldisk.sh JBBVIEW JBBBUILD WORKDIR
#
# Needs root (to mount the tmpfs); prints "SKIPPED: ..." and succeeds where
# that is impossible.
set -uo pipefail
export LC_ALL=C
view=$1 build=$2 work=$3
mnt="$work/fulldisk.$$"
mkdir -p "$mnt"
if ! mount -t tmpfs -o size=1m tmpfs "$mnt" 2>/dev/null; then
  rmdir "$mnt"
  echo "SKIPPED: cannot mount a tmpfs here (needs root and a kernel that allows it)"
  exit 0
fi
trap 'umount "$mnt"; rmdir "$mnt"' EXIT

# The viewer's listing of a change journal, one line an entry: the key, a
# tab, and the decoded data record.
listing() {
  printf 'List\nQuit\n' | "$view" "$1" i | awk '
    /^   Object Name  : / { key = substr($0, 19); rec = "" }
    /^   (Action|Object Type|Inserted|Object Time) / { rec = rec "|" $0 }
    /^-+$/ && key != "" && rec != "" { print key "\t" rec; key = "" }' | sort
}

status=0
session() {  # keys seed
  local n=$1 seed=$2 db="$mnt/journal"
  rm -f "$mnt"/*
  "$build" --out "$db.jbbdb" --generate "$n" --seed "$seed" --fill 5 --activation 1700000000 >/dev/null || return 1
  listing "$db" >"$work/before.$seed"
  cut -f1 "$work/before.$seed" >"$work/keys.$seed"
  [ "$(wc -l <"$work/keys.$seed")" -eq "$n" ] || { echo "listed $(wc -l <"$work/keys.$seed") of $n keys"; return 1; }
  # Fill what is left of the file system.
  dd if=/dev/zero of="$mnt/filler" bs=4096 2>/dev/null
  truncate -s -8K "$mnt/filler"
  # Delete every third key, in a seeded order.
  awk 'NR % 3 == 1' "$work/keys.$seed" | shuf --random-source=<(yes "$seed") >"$work/targets.$seed"
  awk '{ printf "Del %s\ny\n", $0 } END { print "Quit" }' "$work/targets.$seed" |
    "$view" "$db" i >"$work/session.$seed" 2>&1
  local failed completed
  failed=$(grep -c '^errno = 28, No space left on device\.$' "$work/session.$seed")
  completed=$(grep -c '" completed\.$' "$work/session.$seed")
  echo "keys $n, seed $seed: $completed deletions completed, $failed failed on the full disk"
  [ "$failed" -gt 0 ] || { echo "no deletion met the full disk"; return 1; }
  [ "$completed" -gt 0 ] || { echo "no deletion completed before the disk was full"; return 1; }
  # What must be left: every key not reported deleted.
  sed -n 's/.*Deletion of key "\(.*\)" completed\.$/\1/p' "$work/session.$seed" | sort >"$work/gone.$seed"
  join -t "$(printf '\t')" -v 1 "$work/before.$seed" "$work/gone.$seed" >"$work/left.$seed"
  rm -f "$mnt/filler"
  "$view" "$db" >"$work/count.$seed" 2>&1 || { echo "the journal no longer opens:"; cat "$work/count.$seed"; return 1; }
  grep -q "Number of DB Entries    $(wc -l <"$work/left.$seed")\$" "$work/count.$seed" ||
    { echo "wrong count:"; grep "Number of DB Entries" "$work/count.$seed"; return 1; }
  listing "$db" | cmp -s - "$work/left.$seed" ||
    { echo "the journal holds other entries than those not reported deleted"; return 1; }
  if ! "$build" --check "$db.jbbdb" >"$work/check.$seed" 2>&1; then
    echo "the checker finds the journal damaged:"; cat "$work/check.$seed"; return 1
  fi
}

for n in 300 900; do
  for seed in 1 2 3; do
    session "$n" "$seed" || status=1
  done
done
exit $status
