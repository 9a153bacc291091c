#!/usr/bin/env bash
# Makes a manual page from a program's own help texts, so that the two
# cannot disagree: the page's fixed sections come from TEMPLATE, and every
# @HELP...@ line in it is replaced by help the program prints now.
#
#   mkman.sh jbbtool TEMPLATE JBBTOOL                  > jbbtool.1
#   mkman.sh jbbview TEMPLATE JBBVIEW JBBBUILD VERSION > jbbview.1
#
# jbbtool: @HELP-COMMANDS@ becomes one subsection per subcommand (its
# usage line, what it does, its arguments and options), from
# `jbbtool --help` and `jbbtool SUB --help`.  jbbview: @HELP-USAGE@ becomes
# the usage screen it prints without arguments, and @HELP-REQUESTS@ the
# request help an interactive session starts with.  @VERSION@ is replaced
# in both.
set -euo pipefail
kind=$1 template=$2 program=$3
export LC_ALL=C TZ=UTC

# roff text of plain lines: backslashes, leading dots and quotes, hyphens.
roff_text() {
  sed -e 's/\\/\\e/g' -e 's/-/\\-/g' -e "s/^\\([.']\\)/\\\\\\&\\1/"
}

# One subcommand's help as roff: .SS usage, its summary, then .TP per
# argument and option, then what the help says after them (its footer;
# the exit codes every command shares have a section of their own).  The help puts an option's text after a gap of
# blanks, or on the next line when the option is too long for its column.
tool_section() {
  local sub=$1
  "$program" "$sub" --help | awk '
    NR == 1 { summary = $0; next }
    /^Usage: / { sub(/^Usage: /, ""); usage = $0; next }
    /^(Positionals|Options):$/ { inlist = 1; next }
    /^Exit codes:/ { next }
    inlist && /^[^ ]/ { footer = footer (footer == "" ? "" : " ") $0; next }
    inlist && /^  [^ ]/ {
      line = substr($0, 3)
      name = line; text = ""
      if (match(line, /  +/)) { name = substr(line, 1, RSTART - 1); text = substr(line, RSTART + RLENGTH) }
      if (name == "-h,--help") { skip = 1; next }
      skip = 0
      items[++n] = name; texts[n] = text
      next
    }
    inlist && /^                    +[^ ]/ && !skip { t = $0; sub(/^ +/, "", t); texts[n] = texts[n] (texts[n] == "" ? "" : " ") t; next }
    END {
      print "@SS " usage
      print summary
      for (i = 1; i <= n; ++i) { print "@TP " items[i]; if (texts[i] != "") print texts[i] }
      if (footer != "") { print "@PP"; print footer }
    }' | roff_text | sed -e 's/^@SS \(.*\)$/.SS "\1"/' -e 's/^@TP \(.*\)$/.TP\n.B "\1"/' -e 's/^@PP$/.PP/'
}

tool_commands() {
  "$program" --help | awk '/^Subcommands:$/ { on = 1; next } on && /^  [a-z]/ { print $1 } on && /^$/ { on = 0 }' |
    while read -r sub; do tool_section "$sub"; done
}

view_usage() {
  # The usage screen goes to the error stream, and the run fails (no
  # database was named).
  { "$program" 2>&1 >/dev/null || true; } | awk 'started || /^Usage:|^View / { started = 1; print }' | sed -e 's/[[:space:]]*$//' | cat -s
}

view_requests() {
  local builder=$1 work
  work=$(mktemp -d)
  "$builder" --out "$work/empty.jbbdb" --generate 0 >/dev/null
  printf 'quit\n' | "$program" "$work/empty" i |
    awk '/^Enter request on a single line/ { on = 1 } /^Please enter your request:/ { on = 0 } on { print }' |
    sed -e 's/[[:space:]]*$//' | cat -s
  rm -rf "$work"
}

# A block printed as it is (no filling), in the fixed-width face.
verbatim() {
  printf '.nf\n'
  expand | roff_text
  printf '.fi\n'
}

case "$kind" in
  jbbtool)
    version=$("$program" --version | awk '{ print $2 }')
    commands=$(tool_commands)
    while IFS= read -r line; do
      case "$line" in
        @HELP-COMMANDS@) printf '%s\n' "$commands" ;;
        *) printf '%s\n' "${line//@VERSION@/$version}" ;;
      esac
    done <"$template"
    ;;
  jbbview)
    builder=$4 version=$5
    usage=$(view_usage | verbatim)
    requests=$(view_requests "$builder" | verbatim)
    while IFS= read -r line; do
      case "$line" in
        @HELP-USAGE@) printf '%s\n' "$usage" ;;
        @HELP-REQUESTS@) printf '%s\n' "$requests" ;;
        *) printf '%s\n' "${line//@VERSION@/$version}" ;;
      esac
    done <"$template"
    ;;
  *) echo "mkman.sh: unknown page $kind" >&2; exit 2 ;;
esac
