#!/usr/bin/env bash
# Runs a built or installed pklfix-cli on a folder of result files as a user
# would, and checks what it prints, its exit status and every byte it leaves.
#
#   cli_end_to_end.sh [--windows] COMMAND...
#
# COMMAND runs pklfix-cli: build/bin/pklfix-cli, /usr/bin/pklfix-cli, or
# "wine64 pklfix-cli.exe". With --windows the program is given Windows paths
# (Z:\...) and its stdout must end each line in CR LF.
set -euo pipefail

windows=false
if [ "${1:-}" = "--windows" ]; then
  windows=true
  shift
fi
[ $# -gt 0 ] || { echo "usage: $0 [--windows] COMMAND..." >&2; exit 2; }
cli=("$@")

work=$(mktemp -d "${TMPDIR:-/tmp}/pklfix-e2e.XXXXXX")
trap 'rm -rf "$work"' EXIT
# Blanks and letters outside any ANSI code page: the name only arrives
# whole if the program reads its arguments as Unicode.
folder="$work/Messung Ü 測定"
mkdir "$folder"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# A spectrum header (30 bytes: seconds at 6, date at 16, time at 24) and a
# little data.
chn() {
  local seconds=$1 date=$2 time=$3
  printf '\xff\xff\0\0\0\0%b\0\0\0\0\0\0\0\0%s%s' "$seconds" "$date" "$time"
  printf '\x01%.0s' {1..64}
}

chn '07' 05MAR091 143000 >"$folder/S001.chn"                    # seconds as text
chn '\x2a\x00' 05MAR091 091500 >"$folder/s002.chn"              # seconds as an integer
printf 'Sample S001\r\nAcquisition Date : 01-01-1900 00:00:00\r\nPeak 1\r\n' >"$folder/S001.pkl"
printf 'Sample S002\nAcquisition Date : \nPeak 1' >"$folder/S002.PKL"
printf 'Sample S003\r\nno date here\r\n' >"$folder/S003.pkl"
printf 'not a result file\n' >"$folder/notes.txt"

native() {  # the path as the program is to be given it
  if $windows; then
    local p="Z:$1"
    echo "${p//\//\\}"
  else
    echo "$1"
  fi
}
eol=$'\n'
$windows && eol=$'\r\n'

# 1. The whole folder: every .pkl file, in name order whatever the case.
status=0
"${cli[@]}" "$(native "$folder")" >"$work/out" 2>"$work/err" || status=$?
[ "$status" -eq 0 ] || fail "exit status $status, stderr: $(cat "$work/err")"
[ ! -s "$work/err" ] || fail "unexpected stderr: $(cat "$work/err")"
sep=/
$windows && sep=\\
dir=$(native "$folder")
printf '%s' \
  "$dir${sep}S001.pkl: Acquisition Date : 01-01-1900 00:00:00 -> Acquisition Date : 03-05-2009 14:30:07$eol" \
  "$dir${sep}S002.PKL: Acquisition Date :  -> Acquisition Date : 03-05-2009 09:15:42$eol" \
  "$dir${sep}S003.pkl: already correct, no acquisition line$eol" >"$work/expected-out"
cmp -s "$work/out" "$work/expected-out" ||
  fail "stdout differs:$(diff <(od -c "$work/expected-out") <(od -c "$work/out"))"

printf 'Sample S001\r\nAcquisition Date : 03-05-2009 14:30:07\r\nPeak 1\r\n' >"$work/S001"
printf 'Sample S002\r\nAcquisition Date : 03-05-2009 09:15:42\r\nPeak 1\r\n' >"$work/S002"
printf 'Sample S003\r\nno date here\r\n' >"$work/S003"
cmp "$folder/S001.pkl" "$work/S001" || fail "S001.pkl is not as corrected"
cmp "$folder/S002.PKL" "$work/S002" || fail "S002.PKL is not as corrected"
cmp "$folder/S003.pkl" "$work/S003" || fail "S003.pkl is not as corrected"
listing=$(cd "$folder" && LC_ALL=C ls | tr '\n' ' ')
[ "$listing" = "S001.chn S001.pkl S002.PKL S003.pkl notes.txt s002.chn " ] ||
  fail "the folder holds: $listing"

# 2. A second run over the folder, with a copy a killed run left of S001.pkl
# (the first half of its corrected form): the copy is no result file and is
# removed; every file is already correct and keeps its time and identity.
head -c 30 "$work/S001" >"$folder/newS001.pkl"
before=$(cd "$folder" && stat -c '%n %Y %i' S001.pkl S002.PKL S003.pkl)
sleep 1  # a rewrite would show in the modification time
status=0
"${cli[@]}" "$(native "$folder")" >"$work/out" 2>"$work/err" || status=$?
[ "$status" -eq 0 ] || fail "second run: exit status $status, stderr: $(cat "$work/err")"
printf '%s' \
  "$dir${sep}S001.pkl: already correct: Acquisition Date : 03-05-2009 14:30:07$eol" \
  "$dir${sep}newS001.pkl: removed: an interrupted run's copy of S001.pkl$eol" \
  "$dir${sep}S002.PKL: already correct: Acquisition Date : 03-05-2009 09:15:42$eol" \
  "$dir${sep}S003.pkl: already correct, no acquisition line$eol" >"$work/expected-out"
cmp -s "$work/out" "$work/expected-out" ||
  fail "second run: stdout differs:$(diff "$work/expected-out" "$work/out")"
[ "$(cd "$folder" && stat -c '%n %Y %i' S001.pkl S002.PKL S003.pkl)" = "$before" ] ||
  fail "the second run touched a file"
[ ! -e "$folder/newS001.pkl" ] || fail "the leftover copy was not removed"

# 3. A file whose spectrum is missing: exit status 1, the reason on stderr,
# the file untouched and no copy left.
printf 'Acquisition Date : x\r\n' >"$folder/S004.pkl"
status=0
"${cli[@]}" "$(native "$folder/S004.pkl")" >"$work/out" 2>"$work/err" || status=$?
[ "$status" -eq 1 ] || fail "missing spectrum: exit status $status"
grep -q "^pklfix-cli: .*S004.pkl: cannot open .*S004.chn" "$work/err" ||
  fail "missing spectrum: stderr is: $(cat "$work/err")"
[ "$(cat "$folder/S004.pkl")" = $'Acquisition Date : x\r' ] || fail "S004.pkl was changed"
[ -z "$(find "$folder" -name 'new*')" ] || fail "a temporary file was left"

echo "pklfix-cli end to end: passed (${cli[*]})"
