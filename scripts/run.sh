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
# gives a first run something to correct ("all", then "GO", and Ctrl+Z to
# put it back) while the repository's own samples stay as they are. The
# window keeps its record of the changes and the originals it replaces in
# $XDG_STATE_HOME/pklfix: pointed into the scratch folder, a trial leaves
# nothing in the user's real record.
program=$PWD/build/bin/pklfix
scratch=$(mktemp -d "${TMPDIR:-/tmp}/pklfix-samples.XXXXXX")
scratch=$(cd "$scratch" && pwd)
mkdir "$scratch/samples" "$scratch/state"
cp samples/* "$scratch/samples"
echo "pklfix: starting in $scratch/samples, a scratch copy of the samples in samples/"
echo "pklfix: this trial's record of the changes and kept originals go in $scratch/state/pklfix"
cd "$scratch/samples"
XDG_STATE_HOME=$scratch/state exec "$program"
