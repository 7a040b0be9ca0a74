#!/usr/bin/env bash
# Fuzzes the spectrum header reader, the date helpers and the line rewriter
# for a bounded time each, then runs every test once more under
# AddressSanitizer and UBSan, the long kill runs (ctest label "long") that
# scripts/test.sh leaves out included. A fuzz finding, a sanitizer report or
# a failing test fails it.
# PKLFIX_FUZZ_SECONDS sets the time per fuzz target (default 60).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

fuzz_seconds="${PKLFIX_FUZZ_SECONDS:-60}"
ensure_packages "${PKLFIX_PACKAGES[@]}" clang-14 libclang-rt-14-dev
ensure_runtime_dir

cmake --preset fuzz
cmake --build --preset fuzz -j 2
for target in chn_header_fuzzer text_fuzzer line_rewriter_fuzzer record_fuzzer; do
  # New inputs go to build-fuzz/corpus; the seeds in fuzz/corpus stay as written.
  corpus="build-fuzz/corpus/$target"
  findings="build-fuzz/findings/$target/"
  log="build-fuzz/$target.log"
  mkdir -p "$corpus" "$findings"
  echo "== fuzzing $target for $fuzz_seconds s"
  if ! "build-fuzz/bin/$target" -max_total_time="$fuzz_seconds" -timeout=10 \
      -print_final_stats=1 -artifact_prefix="$findings" "$corpus" "fuzz/corpus/$target" \
      >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "$target: finding kept in $findings" >&2
    exit 1
  fi
  grep -E 'DONE|stat::number_of_executed_units|stat::average_exec_per_sec' "$log"
done

echo "== every test under AddressSanitizer and UBSan, the long kill runs included (minutes)"
cmake --preset asan
cmake --build --preset asan -j 2
export QT_QPA_PLATFORM=offscreen
ctest --preset asan --timeout 600
grep -h '^crash consistency:' build-asan/Testing/Temporary/LastTest.log
