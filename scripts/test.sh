#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

ensure_packages "${PKLFIX_PACKAGES[@]}"
ensure_runtime_dir

cmake --preset dev
cmake --build --preset dev
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure --timeout 300
