#!/usr/bin/env bash
# Builds in Release and times pklfix-cli against the floor (the least disk
# work a correction needs) on fresh, identical corpora, and the window (driven
# offscreen by clicks) against pklfix-cli, then prints the medians, the
# ratios and the in-memory microbenchmarks.
#
#   ./scripts/bench.sh            every scenario, 5 interleaved runs each (about 30 minutes)
#   ./scripts/bench.sh --quick    3 runs, scaling up to 5000 files, 50 MiB instead of 200 MiB
#   ./scripts/bench.sh --runs 7   more runs
#   ./scripts/bench.sh --only record   the change record's scenarios alone
#
# The corpora go to bench-work/ in the source folder (or $PKLFIX_BENCH_DIR),
# so the figures are those of the disk that holds it. One scenario puts the
# record on another file system: /dev/shm (or $PKLFIX_BENCH_ELSEWHERE).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

runs=5
quick=0
only=
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) quick=1; runs=3 ;;
    --runs) runs="$2"; shift ;;
    --only) only="$2"; shift ;;
    *) echo "usage: $0 [--quick] [--runs N] [--only record]" >&2; exit 2 ;;
  esac
  shift
done
case "$only" in
  ""|record) ;;
  *) echo "$0: --only takes record" >&2; exit 2 ;;
esac

ensure_packages "${PKLFIX_PACKAGES[@]}"
cmake --preset bench >/dev/null
cmake --build --preset bench -j2 >/dev/null

bin=build-bench/bin
work="${PKLFIX_BENCH_DIR:-$PWD/bench-work}"
log="build-bench/bench-$(date +%Y%m%d-%H%M%S).log"
big=200M
most=20000
if [ "$quick" = 1 ]; then big=50M; most=5000; fi

disk() {
  "$bin/pklfix-disk-bench" --pklfix "$bin/pklfix-cli" --floor "$bin/pklfix-floor" \
    --work "$work" --runs "$runs" "$@" | tee -a "$log"
}

{
  echo "pklfix benchmarks, $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo "cpus: $(nproc); $(lscpu | sed -n 's/^Model name: *//p' | head -1)"
  echo "disk: $(df -T "$(dirname "$work")" | awk 'NR==2 {print $1, $2}')," \
    "rotational=$(lsblk -dno ROTA "$(df "$(dirname "$work")" | awk 'NR==2 {print $1}')" 2>/dev/null || echo '?')"
  echo "record elsewhere: $(df -T "${PKLFIX_BENCH_ELSEWHERE:-/dev/shm}" | awk 'NR==2 {print $1, $2}')"
  echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"
  echo
} | tee "$log"

# The change record's cost: pklfix-cli --record against pklfix-cli, the
# originals kept in the store beside the record by a link; then with the
# record on another file system, where they are copied; then the undo of a
# run (pklfix-cli --undo) against the run itself.
record_scenarios() {
  disk --files 2000 --size 8K --record
  local elsewhere="${PKLFIX_BENCH_ELSEWHERE:-/dev/shm}/pklfix-bench-$$"
  mkdir -p "$work" "$elsewhere"
  if [ "$(stat -c %d "$work")" != "$(stat -c %d "$elsewhere")" ]; then
    disk --files 2000 --size 8K --record --record-dir "$elsewhere"
  else
    echo "(skipped: $elsewhere is on the same file system as $work)" | tee -a "$log"
  fi
  rmdir "$elsewhere" 2>/dev/null || true
  disk --files 1 --size "$big" --record
  disk --files 2000 --size 8K --undo
}

if [ "$only" = record ]; then
  record_scenarios
else
  # The window joins the plain scenarios: its run from GO against
  # pklfix-cli, and how long a folder takes to list.
  window=(--window "$bin/pklfix-window-bench")
  disk --files 2000 --size 8K "${window[@]}"
  # A second run over a corrected folder touches no file: its cost is reading.
  disk --files 2000 --size 8K --second-run
  disk --files "$most" --size 8K --second-run
  disk --files 1 --size "$big"
  record_scenarios
  disk --files 1 --size 1M
  for layout in "" --upper-chn --separate-chn; do
    disk --files 200 --size 8K $layout
    [ -z "$layout" ] || disk --files 2000 --size 8K $layout
    if [ -z "$layout" ]; then
      disk --files "$most" --size 8K "${window[@]}"
    else
      disk --files "$most" --size 8K $layout
    fi
  done

  echo "== in-memory hot paths ==" | tee -a "$log"
  "$bin/pklfix-micro-bench" --benchmark_min_time=0.5 2>/dev/null | tee -a "$log"
fi

echo
echo "== summary (full output in $log) =="
grep -E '^(RESULT|LIST|CHECK)' "$log"
