#!/usr/bin/env bash
# Times, under Wine, how long the Windows window takes from its start until
# it shows a result folder: one empty, one of 20,000 result files (with
# their spectra, so 40,000 entries), the window started in the folder each
# time. Prints the median of 5 openings of each and the difference; given
# other builds' pklfix.exe (say of an earlier commit), times them the same
# way in the same run, for a comparison.
# Compare Windows timings with each other, never with Linux ones: under Wine
# every file call is a round trip to the Wine server.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

ensure_packages cmake ninja-build g++-mingw-w64-x86-64-posix wine64 xvfb xauth xdotool
cmake --preset windows >/dev/null
cmake --build --preset windows --target pklfix

build=build-windows
files=${PKLFIX_BENCH_FILES:-20000}
work=$(mktemp -d "${TMPDIR:-/tmp}/pklfix-bench-windows.XXXXXX")
start_wine "$build" "$work"

mkdir "$work/empty" "$work/full"
(
  cd "$work/full"
  printf 'Spectrum analysis\r\nAcquisition Date : 01-01-1900 00:00:00\r\n' >template.pkl
  head -c 30 /dev/zero >template.chn
  for i in $(seq -w 1 "$files"); do
    ln template.pkl "S$i.pkl"
    ln template.chn "S$i.chn"
  done
  rm template.pkl template.chn
)

# Seconds from the start until the window is on the display: it fills its
# lists before it shows itself.
open_once() {
  local start end pid
  start=$(date +%s.%N)
  (cd "$2" && exec "$wine" "$1" </dev/null >/dev/null 2>&1) &
  pid=$!
  # xdotool's own --sync looks only every half second.
  until xdotool search --onlyvisible --name '^Correction of \*\.pkl$' >/dev/null 2>&1; do
    sleep 0.01
  done
  end=$(date +%s.%N)
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  # Wait until the process is gone, so the next opening starts alone.
  while xdotool search --onlyvisible --name '^Correction of \*\.pkl$' >/dev/null 2>&1; do
    sleep 0.05
  done
  awk "BEGIN { print $end - $start }"
}

median() { LC_ALL=C sort -g | sed -n 3p; }

for program in "$PWD/$build/bin/pklfix.exe" "$@"; do
  program=$(realpath "$program")
  open_once "$program" "$work/empty" >/dev/null  # a program's first start fills Wine's caches
  empty=$(for _ in 1 2 3 4 5; do open_once "$program" "$work/empty"; done | median)
  full=$(for _ in 1 2 3 4 5; do open_once "$program" "$work/full"; done | median)
  awk -v e="$empty" -v f="$full" -v n="$files" -v p="$program" 'BEGIN {
    printf "LIST-WINDOWS %s from start to shown: empty folder %.3f s; %d result files %.3f s; difference %.3f s (medians of 5)\n", p, e, n, f, f - e
  }'
done
