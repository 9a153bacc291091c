#!/usr/bin/env bash
# scripts/layers.sh on small trees made here: an include down a layer
# passes, an include up a layer fails in either form and is named, and a
# directory outside the order is refused.
#   bash layers_test.sh SCRIPT
set -uo pipefail
script="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# tree NAME FILE=INCLUDE...: a tree whose files each include one header.
tree() {
  local dir="$work/$1"
  shift
  for d in platform trace messages btree viewer; do mkdir -p "$dir/src/$d"; done
  for spec in "$@"; do
    local file="${spec%%=*}" inc="${spec#*=}"
    mkdir -p "$(dirname "$dir/$file")"
    printf '#include "%s"\n' "$inc" >>"$dir/$file"
  done
}

# expect NAME CODE PATTERN: the script on tree NAME exits with CODE and
# prints a line matching PATTERN.
expect() {
  local out code
  out=$(bash "$script" -v -C "$work/$1" 2>&1)
  code=$?
  if [ "$code" -ne "$2" ] || ! grep -qE -- "$3" <<<"$out"; then
    echo "FAIL $1: exit $code (expected $2), output:"
    echo "$out"
    failures=$((failures + 1))
  else
    echo "ok   $1"
  fi
}

tree down src/trace/t.cc=platform/p.h src/viewer/v.cc=btree/b.h src/viewer/w.cc=../messages/m.h \
  src/platform/p.cc=platform/p.h src/platform/q.cc=p.h
expect down 0 '^  viewer -> messages +1$'
expect down 0 '^No include runs upward\.$'

tree up src/platform/p.cc=trace/t.h
expect up 1 '^UPWARD src/platform/p\.cc:1: platform includes "trace/t\.h"$'
expect up 1 '^  platform -> trace +1  UPWARD$'

tree relative src/trace/sub/t.cc=../../messages/logutils.h
expect relative 1 '^UPWARD src/trace/sub/t\.cc:1: trace includes "\.\./\.\./messages/logutils\.h"$'

tree stranger src/tools/x.cc=platform/p.h
expect stranger 2 'src/tools is not among the layers'

[ "$failures" -eq 0 ] || { echo "$failures case(s) failed"; exit 1; }
echo "all cases passed"
