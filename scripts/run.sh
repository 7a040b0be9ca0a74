#!/usr/bin/env bash
# Installs what is missing, builds and starts the program.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

ensure_packages "${PKLFIX_PACKAGES[@]}"
cmake --preset dev >/dev/null
cmake --build --preset dev
exec build/bin/pklfix-cli --help
