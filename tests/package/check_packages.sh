#!/usr/bin/env bash
# Unpacks each package of build/packages into an empty folder and runs the
# utility from there, the Windows one under wine, on a sample database made
# by jbbbuild: the packaged jbbview must print what package.out holds and
# jbbtool its version; each package holds exactly what package.files lists.
#
#   check_packages.sh [PACKAGE_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
here=$root/tests/package
packages=$(cd "${1:-$root/build/packages}" && pwd)
version=$(sed -n 's/^project(jbbview VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
builder=$root/build/linux/tools/jbbbuild
export TZ=UTC LC_ALL=C.UTF-8 WINEDEBUG=-all
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The sample journal: 2500 generated keys, fixed seed and times.
"$builder" --out "$work/journal.jbbdb" --generate 2500 --seed 1 --type 1 --state 2 \
  --activation 1700000000 --validation 1700086400 --max-size 5368709120 \
  --server SERVER --node NODE1 --fs /home > /dev/null
printf '%s\n' 'find /home/user0/archive/archive/archive/report_002225' 'find /home/nosuch' 'quit' > "$work/input.txt"

normalise() {
  sed -e 's/\r$//' -e 's/\(Total [A-Za-z ]*Time *\): .*/\1: @TIME@/' \
      -e 's/\([A-Z][a-z][a-z] [A-Z][a-z][a-z]\) 0\([1-9] [0-9][0-9]:\)/\1  \2/g'
}

failed=0
# check NAME EMULATOR EXE BINDIR: one package, unpacked into an empty
# folder; its programs are in BINDIR of the package's folder.
check() {
  local name=$1 emulator=$2 exe=$3
  local archive=$packages/jbbview-$version-$name
  if [ ! -f "$archive" ]; then echo "FAIL: $archive is missing"; failed=1; return; fi
  local dir=$work/unpacked-$name
  mkdir "$dir"
  (cd "$dir" && cmake -E tar xf "$archive")
  local top=$dir/jbbview-$version-${name%%.*}
  (cd "$top" && find . -type f | sort) > "$work/$name.files"
  if ! diff -u "$here/package-${name%%.*}.files" "$work/$name.files"; then
    echo "FAIL: $name holds other files than expected"; failed=1
  fi
  local bin=$top/$4
  cp "$work/journal.jbbdb" "$bin/"
  local rc=0
  (cd "$bin" && $emulator "./jbbview$exe" journal i < "$work/input.txt") > "$work/$name.out" 2>&1 || rc=$?
  if [ $rc -ne 0 ] || ! diff -u "$here/package.out" <(normalise < "$work/$name.out"); then
    echo "FAIL: the viewer of $name printed other output (exit code $rc)"; failed=1
  fi
  local tool
  tool=$(cd "$bin" && $emulator "./jbbtool$exe" --version 2>&1 | tr -d '\r')
  if [ "$tool" != "jbbtool $version" ]; then echo "FAIL: jbbtool of $name says '$tool'"; failed=1; fi
  if [ $failed -eq 0 ]; then echo "ok: $name"; fi
}

check Linux.tar.gz "" "" bin
check win64.zip wine .exe .
exit $failed
