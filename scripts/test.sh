#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test but the long kill
# runs (ctest label "long"), which scripts/check-robustness.sh runs.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

ensure_packages "${PKLFIX_PACKAGES[@]}"
ensure_runtime_dir

echo "== configuring and building build/"
cmake --preset dev
cmake --build --preset dev
echo "== running the tests, two at a time (the long kill runs: scripts/check-robustness.sh)"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure --timeout 300 -j 2 -LE long
