#!/usr/bin/env bash
# Installs what is missing, builds and starts the program's window.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

ensure_packages "${PKLFIX_PACKAGES[@]}"
cmake --preset dev >/dev/null
cmake --build --preset dev

# Without a display Qt would abort with a message about platform plugins;
# say what is wrong instead, and what works without one.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "pklfix: no display found (DISPLAY and WAYLAND_DISPLAY are not set), so the window cannot open." >&2
  echo "Start it from a desktop session, or correct files with the command-line version:" >&2
  echo "  build/bin/pklfix-cli --help" >&2
  exit 1
fi
ensure_runtime_dir
exec build/bin/pklfix
