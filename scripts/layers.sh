#!/usr/bin/env bash
# Lists the includes between the layers of src/ and fails when one runs
# upward.  The layers, lowest first (the order of the top CMakeLists.txt):
#
#   platform  trace  messages  btree  viewer
#
# A layer may include its own headers and those of the layers before it;
# an include of a later layer's header runs upward.
#
#   bash scripts/layers.sh            includes per pair of layers, counted
#   bash scripts/layers.sh -v         and every include between layers
#   bash scripts/layers.sh -C DIR     the tree at DIR instead of this one
#
# Both forms of include count: "trace/trace.h" (from the include
# directories) and "../trace/trace.h" (from the including file's place).
# Exit code 0 when no include runs upward, 1 when one does (each is printed
# with UPWARD in front), 2 on a usage error or a directory of src/ that is
# not among the layers.
set -euo pipefail

layers=(platform trace messages btree viewer)
root="$(cd "$(dirname "$0")/.." && pwd)"
verbose=0
while [ $# -gt 0 ]; do
  case "$1" in
    -v) verbose=1 ;;
    -C) [ $# -ge 2 ] || { echo "layers.sh: -C needs a directory" >&2; exit 2; }
        root="$2"; shift ;;
    *) echo "usage: layers.sh [-v] [-C DIR]" >&2; exit 2 ;;
  esac
  shift
done
[ -d "$root/src" ] || { echo "layers.sh: no src/ in $root" >&2; exit 2; }

# Every directory of src/ has its place in the order.
for dir in "$root"/src/*/; do
  name=$(basename "$dir")
  case " ${layers[*]} " in
    *" $name "*) ;;
    *) echo "layers.sh: src/$name is not among the layers (${layers[*]})" >&2; exit 2 ;;
  esac
done

cd "$root"
includes=$(find src -type f \( -name '*.h' -o -name '*.cc' -o -name '*.cpp' -o -name '*.inc' \) -print0 | sort -z |
  xargs -0 -r grep -HnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' || true)
printf '%s\n' "$includes" | awk -v order="${layers[*]}" -v verbose="$verbose" '
    BEGIN {
      n = split(order, names, " ")
      for (i = 1; i <= n; ++i) rank[names[i]] = i
    }
    NF == 0 { next }
    {
      # file:line:text
      file = $0; sub(/:.*/, "", file)
      rest = substr($0, length(file) + 2)
      line = rest; sub(/:.*/, "", line)
      text = substr(rest, length(line) + 2)
      split(file, part, "/")
      from = part[2]
      inc = text; sub(/^[^"]*"/, "", inc); sub(/".*/, "", inc)
      written = inc
      # A path from the including file: resolve leading "../" against its
      # directory; a bare name is a header beside it.
      to = ""
      if (inc ~ /^\.\.\//) {
        depth = gsub(/\.\.\//, "", inc)
        # src/<from>/... : one "../" leaves the layer for src/.
        m = split(file, seg, "/") - 1
        if (m - depth == 1) { split(inc, target, "/"); to = target[1] }
        else if (m - depth >= 2) { to = seg[2] }
      } else if (inc ~ /\//) {
        split(inc, target, "/")
        if (target[1] in rank) to = target[1]
      }
      if (to == "" || to == from || !(to in rank)) next
      up = rank[to] > rank[from]
      key = from " -> " to
      count[key]++
      if (up) {
        upward++
        printf "UPWARD %s:%s: %s includes \"%s\"\n", file, line, from, written
      } else if (verbose) {
        printf "%s:%s: %s -> %s \"%s\"\n", file, line, from, to, written
      }
    }
    END {
      print "Includes between layers (lowest layer first: " order "):"
      for (i = 1; i <= n; ++i)
        for (j = 1; j <= n; ++j) {
          key = names[i] " -> " names[j]
          if (key in count) printf "  %-22s %4d%s\n", key, count[key], (j > i ? "  UPWARD" : "")
        }
      if (upward > 0) { printf "%d include(s) run upward.\n", upward; exit 1 }
      print "No include runs upward."
    }'
