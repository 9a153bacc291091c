#!/usr/bin/env bash
# Runs the programs to remake every transcript of the user guide, and fails
# when the guide's copy differs: the guide never shows output the programs
# no longer print.
#
#   guide_transcripts.sh GUIDE VIEWER TOOL BUILDER WORK [--update]
#
# A transcript in the guide is a fenced block between the lines
# "<!-- transcript NAME -->" and "<!-- end transcript -->"; the function
# scenario_NAME below makes it, in a fresh directory below WORK.  --update
# writes the remade transcripts into GUIDE instead of comparing.  EMULATOR,
# when set, runs the programs (wine, for the Windows build).
#
# Everything shown is deterministic: fixed keys and seeds, stored times set
# by the builder and shown in UTC.  Only the viewer's timings vary; they
# compare as "@TIME@".  The Windows build's output is compared in the Linux
# form: LF line ends, "jbbview" without ".exe", and ctime's day of the month
# padded with a blank ("Nov  1") where the Windows runtime writes a zero.
set -euo pipefail
[ $# -ge 5 ] || { echo "usage: $0 GUIDE VIEWER TOOL BUILDER WORK [--update]" >&2; exit 2; }
guide=$(readlink -f "$1") viewer=$(readlink -f "$2") tool=$(readlink -f "$3") builder=$(readlink -f "$4")
work=$(readlink -f "$5") update=${6:-}
here=$(cd "$(dirname "$0")" && pwd)
emulator=${EMULATOR:-}
export TZ=UTC LC_ALL=C.UTF-8 WINEDEBUG=-all

# The program a transcript names, run the way this build runs it.
program() {
  case $1 in
    jbbview) echo "$viewer" ;;
    jbbtool) echo "$tool" ;;
    jbbbuild) echo "$builder" ;;
    *) echo "$1" ;;
  esac
}

normalise_output() {
  sed -e 's/\r$//' -e 's/jbbview\.exe/jbbview/g' -e 's/jbbtool\.exe/jbbtool/g' \
      -e 's/\([A-Z][a-z][a-z] [A-Z][a-z][a-z]\) 0\([1-9] [0-9][0-9]:\)/\1  \2/g'
}

# "> command args": shows the command line, then what it prints, standard
# output first and standard error after it (the order a console shows
# them in for every command of the guide).  Standard input, when given, is
# shown as typed (echo_input.awk).  With --from TEXT the output is shown
# from the first line holding TEXT on, after a line "...".
show() {
  local input="" from=""
  if [ "$1" = "--input" ]; then input=$2; shift 2; fi
  if [ "$1" = "--from" ]; then from=$2; shift 2; fi
  echo "> $*"
  local prog
  prog=$(program "$1")
  shift
  local rc=0
  if [ -n "$input" ]; then
    printf '%s\n' "$input" > input.txt
    $emulator "$prog" "$@" < input.txt > out.txt 2> err.txt || rc=$?
    normalise_output < out.txt > out.norm
    awk -v input=input.txt -f "$here/echo_input.awk" out.norm > shown.txt
  else
    $emulator "$prog" "$@" < /dev/null > out.txt 2> err.txt || rc=$?
    normalise_output < out.txt > shown.txt
  fi
  normalise_output < err.txt >> shown.txt
  if [ -n "$from" ]; then
    grep -qF -- "$from" shown.txt || { echo "no '$from' in the output of $*" >&2; return 1; }
    echo "..."
    awk -v from="$from" 'index($0, from) { on = 1 } on' shown.txt
  else
    cat shown.txt
  fi
  last_rc=$rc
}

# A command the guide needs but does not show; its messages only when it
# fails.
quietly() {
  local prog
  prog=$(program "$1")
  shift
  $emulator "$prog" "$@" > quiet.txt 2>&1 < /dev/null || { cat quiet.txt >&2; return 1; }
}

# The sample journal of the guide: a change journal of eight entries.
make_journal() {
  cat > keys.txt <<'KEYS'
C:\Users\anna\Documents\budget 2024.xlsx
C:\Users\anna\Documents\minutes.docx
C:\Users\anna\Pictures\harbour.jpg
C:\Projects\web\index.html
C:\Projects\web\style.css
C:\Projects\web\logo.png
C:\Projects\notes.txt
C:\Temp\setup.log
KEYS
  quietly jbbbuild --out "${1:-journal}.jbbdb" --keys keys.txt --seed 7 --type 1 --state 2 \
    --activation 1700000000 --validation 1700086400 --max-size 5368709120 \
    --server BACKUPSRV --node FILESRV1 --fs 'C:'
}

# A larger journal, of 2500 generated names (the sample of scripts/demo.sh).
make_large_journal() {
  quietly jbbbuild --out "$1" --generate 2500 --seed 1 --type 1 --state 2 --activation 1700000000 \
    --validation 1700086400 --max-size 5368709120 --server SERVER --node NODE1 --fs /home "${@:2}"
}

scenario_report() { make_journal; show jbbview journal; }

scenario_find() {
  make_journal
  show --input $'find C:\\Projects\\web\\index.html\nfind C:\\projects\\web\\index.html\nquit' \
    --from 'Enter request on a single line' jbbview journal i
}

scenario_list() { make_journal; show --input $'list\nquit' --from 'Please enter your request' jbbview journal i; }

scenario_delete() {
  make_journal
  show --input $'del C:\\Temp\\setup.log\nn\ndel C:\\Temp\\setup.log\ny\nfind C:\\Temp\\setup.log\ndel C:\\Temp\\nosuch.log\ny\nquit' \
    --from 'Please enter your request' jbbview journal i
}

scenario_incremental() {
  printf '%s\n' 'C:\Users\anna' 'C:\Users\anna\Documents' 'C:\Projects\web' > dirs.txt
  quietly jbbbuild --out incr.jbbdb --keys dirs.txt --type 2 --state 1 --activation 1700000000 \
    --server BACKUPSRV --node FILESRV1 --fs 'C:'
  show --input $'list\nquit' jbbview incr i
}

scenario_just_created() {
  quietly jbbbuild --out new.jbbdb --type 0 --no-empty-root --activation 1700000000
  show --input 'y' jbbview new
}

scenario_usage() { show jbbview; }

scenario_no_file() { show jbbview C:\\Journal\\nosuch; }

scenario_corrupt() {
  make_journal
  quietly jbbbuild --out damaged.jbbdb --keys keys.txt --seed 7 --type 1 --damage bad-magic
  show jbbview damaged
}

scenario_open_failed() {
  make_journal
  quietly jbbbuild --out broken.jbbdb --keys keys.txt --seed 7 --type 1 --damage root-missing
  show jbbview broken
}

scenario_tool_version() { show jbbtool --version; }
scenario_tool_verify() { make_journal; show jbbtool verify journal.jbbdb; }
scenario_tool_stat() { make_large_journal large.jbbdb --free-slots 40 --slack 16; show jbbtool stat large.jbbdb; }
scenario_tool_dump() { make_journal; show jbbtool dump journal.jbbdb; }
scenario_tool_get() { make_journal; show jbbtool get journal.jbbdb 'C:\Temp\setup.log' 'C:\Temp\nosuch.log'; }
scenario_tool_range() { make_journal; show jbbtool dump journal.jbbdb --prefix 'C:\Projects\web\' --format csv; }
scenario_tool_info() { make_journal; show jbbtool info journal.jbbdb; }

scenario_tool_compact() {
  make_large_journal journal.jbbdb --free-slots 40 --slack 16
  show jbbtool compact journal.jbbdb
  show jbbtool verify journal.jbbdb
  show jbbtool compact journal.jbbdb
}

scenario_tool_salvage() {
  make_large_journal broken.jbbdb --damage nkl-zero --damage-target 7
  show jbbtool verify broken.jbbdb
  show jbbtool salvage broken.jbbdb --out recovered.jbbdb
  show jbbtool verify recovered.jbbdb
}

scenario_tool_delete() {
  make_journal
  show jbbtool delete journal.jbbdb --prefix 'C:\Projects\web\' --dry-run
  show jbbtool delete journal.jbbdb --backup 'C:\Temp\setup.log' 'C:\Temp\nosuch.log'
  show jbbtool delete journal.jbbdb --prefix 'C:\Projects\web\'
  show jbbtool verify journal.jbbdb
}

scenario_tool_load_stdin() {
  make_journal
  quietly jbbtool dump journal.jbbdb --out journal.txt
  show --input "$(cat journal.txt)" jbbtool load - --out new.jbbdb
  show jbbtool verify new.jbbdb
}

scenario_pasted_del() {
  make_journal
  show --input $'del C:\\Temp\\setup.log\ndel C:\\Projects\\notes.txt\nquit' --from 'Please enter your request: del' \
    jbbview journal i
}

scenario_script_prefix() {
  make_journal
  show jbbtool dump journal.jbbdb --prefix 'C:\Users\anna\' --format csv --out anna.csv
  show jbbtool get journal.jbbdb 'C:\Projects\notes.txt' --format csv
}

scenario_script_delete() {
  make_journal
  printf '%s\r\n' 'C:\Users\anna\Pictures\harbour.jpg' 'C:\Temp\old.log' > gone.txt
  show jbbtool delete journal.jbbdb --keys-from gone.txt
}

# Every transcript the guide names, made afresh.
rm -rf "$work"
mkdir -p "$work"
names=$(sed -n 's/^<!-- transcript \([a-z_]*\) -->$/\1/p' "$guide")
[ -n "$names" ] || { echo "no transcripts in $guide" >&2; exit 1; }
for name in $names; do
  declare -F "scenario_$name" > /dev/null || { echo "the guide names an unknown transcript: $name" >&2; exit 1; }
  mkdir "$work/$name"
  (cd "$work/$name" && "scenario_$name" > ../"$name.txt")
done

# The guide with every transcript block replaced by its new text.
awk -v dir="$work" '
  /^<!-- transcript [a-z_]* -->$/ {
    print; name = $3; getline fence; print fence
    file = dir "/" name ".txt"
    while ((getline line < file) > 0) print line
    close(file)
    skipping = 1; next
  }
  skipping && /^```$/ { print; skipping = 0; next }
  skipping { next }
  { print }
' "$guide" > "$work/guide.md"

if [ "$update" = "--update" ]; then
  cp "$work/guide.md" "$guide"
  echo "updated $guide"
  exit 0
fi
timings() { sed -E 's/(Total [A-Za-z ]*Time *): .*/\1: @TIME@/' "$1"; }
if ! diff -u <(timings "$guide") <(timings "$work/guide.md"); then
  echo "the guide's transcripts differ from what the programs print;" \
       "remake them with: bash tests/docs/guide_transcripts.sh $guide VIEWER TOOL BUILDER WORK --update" >&2
  exit 1
fi
echo "every transcript of the guide matches"
