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

# The window opens on the folder it starts in. A fresh copy of the samples
# gives a first run something to correct ("all", then "GO") while the
# repository's own samples stay as they are.
program=$PWD/build/bin/pklfix
scratch=$(mktemp -d "${TMPDIR:-/tmp}/pklfix-samples.XXXXXX")
cp samples/* "$scratch"
echo "pklfix: starting in $scratch, a scratch copy of the samples in samples/"
cd "$scratch"
exec "$program"
