#!/usr/bin/env bash
# Cross-builds the engine, pklfix-cli and their tests for Windows with
# MinGW-w64 and runs them under Wine: the unit tests (the Windows-only ones
# included) and pklfix-cli.exe end to end. The window is not built: Debian
# has no Qt for Windows.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

ensure_packages cmake ninja-build g++-mingw-w64-x86-64-posix googletest wine64

cmake --preset windows
cmake --build --preset windows

# The same prefix the build's test commands use (see the toolchain file).
# Wine refuses a prefix owned by another user; this one is the caller's.
export WINEPREFIX="$PWD/build-windows/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
# One server for the whole run, so that each test process starts at once;
# stopped at exit, whatever happens.
# Its output goes to a file: a server holding the caller's stdout open
# would keep a pipe reading this script waiting after the script is done.
mkdir -p "$WINEPREFIX"
"$wineserver" --persistent </dev/null >>build-windows/wineserver.log 2>&1
trap '"$wineserver" --kill; "$wineserver" --wait' EXIT
"$wine" wineboot --init </dev/null

ctest --test-dir build-windows --output-on-failure --timeout 300
