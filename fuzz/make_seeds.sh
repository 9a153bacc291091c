#!/usr/bin/env bash
# Writes the seed corpus of both fuzz targets with the test-database
# builder: databases of several shapes and sizes (kept small, so that an
# execution stays fast), with free slots, slack and shuffled order, and
# every damage kind.  The delete target's seeds carry a request header in
# front of the image (see harness.h).
#   fuzz/make_seeds.sh JBBBUILD OUTDIR
# makes OUTDIR/view and OUTDIR/delete.
set -euo pipefail
build=$1
out=$2
mkdir -p "$out/view" "$out/delete"
make() {  # make NAME jbbbuild-options...
  local name=$1
  shift
  "$build" --out "$out/view/$name.jbbdb" "$@" >/dev/null
}
make empty --generate 0
make empty-no-root --generate 0 --no-empty-root
make one --generate 1
make leaf7 --generate 7
make two-levels --generate 40
make three-levels --generate 150 --fill 5
make full-nodes --generate 120 --fill 10
make free-slots --generate 60 --free-slots 6
make slack --generate 60 --slack 40
make shuffled --generate 90 --shuffle --seed 7
make mixed --generate 50 --mixed --seed 3
make unformatted --generate 20 --type 0
make incremental --generate 30 --type 2
make data0 --generate 25 --data-size 0
make data8 --generate 25 --data-size 8
make data100 --generate 25 --data-size 100
make everything --generate 80 --free-slots 4 --slack 16 --shuffle --mixed --seed 11
# Short keys and small records: trees of three and four levels in a few
# kilobytes, which the fuzzer runs many times faster than large files.
keys=$(mktemp)
trap 'rm -f "$keys"' EXIT
for i in $(seq 1 400); do printf 'k%03d\n' "$i"; done >"$keys"
make short3 --keys "$keys" --fill 5 --data-size 0 --type 2
head -n 90 "$keys" >"$keys.90"
make short90 --keys "$keys.90" --fill 5 --data-size 4 --type 1 --shuffle --free-slots 3
head -n 80 "$keys" >"$keys.80"
make deep-small --keys "$keys.80" --fill 5 --data-size 0 --type 2
make deep-small-change --keys "$keys.80" --fill 5 --data-size 8 --type 1 --free-slots 2
rm -f "$keys.90" "$keys.80"
for kind in $("$build" --help 2>&1 | sed -n '/^Damage kinds:/,$p' | tail -n +2 | tr -s ' ,' '\n' | grep -v '^$'); do
  make "damage-$kind" --generate 40 --damage "$kind" 2>/dev/null || true
done
# Deletions: a few request headers in front of a few images.
i=0
for image in one leaf7 two-levels three-levels full-nodes free-slots shuffled mixed everything short90 short3 deep-small deep-small-change; do
  for header in '\x03\x01\x02\x03' '\x08\x01\x81\x05\x05\x09\x0d\x02\x07' '\x05\x00\x01\x02\x03\x04'; do
    i=$((i + 1))
    { printf "$header"; cat "$out/view/$image.jbbdb"; } >"$out/delete/$image-$i.bin"
  done
done
# A control record whose indexArraySize (150,995,444) is far beyond what the
# file could hold records for.
make huge-index-size --generate 250
printf '\xF4\x01\x00\x09' | dd of="$out/view/huge-index-size.jbbdb" bs=1 seek=8 conv=notrunc status=none
