#!/usr/bin/env bash
# The manual pages agree with the programs' help: the built pages are what
# docs/man/mkman.sh makes from these binaries now, every subcommand of
# `jbbtool --help` has its subsection, and every argument and option of
# its own help, and what it says after them, is in it.  groff, where installed, renders both pages
# without a warning.
#
#   man_pages.sh MAN_DIR JBBTOOL JBBVIEW JBBBUILD VERSION
set -euo pipefail
man=$1 tool=$2 view=$3 builder=$4 version=$5
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export LC_ALL=C
failed=0
fail() { echo "FAIL: $*"; failed=1; }

bash "$root/docs/man/mkman.sh" jbbtool "$root/docs/man/jbbtool.1.in" "$tool" >"$work/jbbtool.1"
bash "$root/docs/man/mkman.sh" jbbview "$root/docs/man/jbbview.1.in" "$view" "$builder" "$version" >"$work/jbbview.1"
for page in jbbtool.1 jbbview.1; do
  diff -u "$man/$page" "$work/$page" >"$work/$page.diff" || fail "$page differs from the help: $(head -20 "$work/$page.diff")"
done

# The subsection of one subcommand: from its .SS line to the next.
section() { awk -v want="\"jbbtool $1 " 'index($0, ".SS " want) == 1 { on = 1; next } /^\.S[SH] / { on = 0 } on' "$man/jbbtool.1"; }
subs=$("$tool" --help | awk '/^Subcommands:$/ { on = 1; next } on && /^  [a-z]/ { print $1 } on && /^$/ { on = 0 }')
[ -n "$subs" ] || fail "jbbtool --help lists no subcommand"
for sub in $subs; do
  text=$(section "$sub")
  [ -n "$text" ] || { fail "no subsection for $sub"; continue; }
  # Each argument and option, as the help names it, in roff's spelling.
  "$tool" "$sub" --help | awk '/^(Positionals|Options):$/ { on = 1; next } /^$/ { next } on && /^  [^ ]/ { print $1 }' |
    grep -v -e '^-h,--help$' | while read -r name; do
      roffname=$(printf '%s' "$name" | sed -e 's/-/\\-/g')
      grep -qF -- ".B \"$roffname" <<<"$text" || echo "FAIL: jbbtool $sub: $name is not in the page"
    done >"$work/missing"
  # What the help says after its options, but for the shared exit codes.
  footer=$("$tool" "$sub" --help | awk '/^(Positionals|Options):$/ { on = 1; next } on && /^[^ ]/ && !/^Exit codes:/' |
    sed -e 's/\\/\\e/g' -e 's/-/\\-/g')
  if [ -n "$footer" ] && ! grep -qF -- "$footer" <<<"$text"; then
    echo "FAIL: jbbtool $sub: its help's closing text is not in the page" >>"$work/missing"
  fi
  [ ! -s "$work/missing" ] || { cat "$work/missing"; failed=1; }
done

if command -v groff >/dev/null; then
  for page in jbbtool.1 jbbview.1; do
    warnings=$(groff -man -Tutf8 -ww -z "$man/$page" 2>&1 || true)
    [ -z "$warnings" ] || fail "groff warns on $page: $warnings"
  done
else
  echo "man_pages: groff is not installed, so the pages are not rendered"
fi
[ "$failed" = 0 ] && echo "man_pages: both pages agree with the help"
exit "$failed"
