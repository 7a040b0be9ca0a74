#!/usr/bin/env bash
# Cross-builds the engine, the window, pklfix-cli and their tests for
# Windows with MinGW-w64 and runs them under Wine: the unit tests (the
# Windows-only ones included), the window's tests, which click through it
# on a virtual display, and pklfix-cli.exe end to end.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

ensure_packages cmake ninja-build g++-mingw-w64-x86-64-posix googletest wine64 xvfb xauth

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
# Wine creates windows only on an X display: a virtual one, for this run,
# on whichever display number is free (Xvfb writes it once it is ready).
rm -f build-windows/xvfb.display
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>build-windows/xvfb.display \
  >build-windows/xvfb.log 2>&1 &
xvfb=$!
trap '"$wineserver" --kill; "$wineserver" --wait; kill $xvfb 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  [ -s build-windows/xvfb.display ] && break
  sleep 0.1
done
[ -s build-windows/xvfb.display ] || { cat build-windows/xvfb.log >&2; exit 1; }
export DISPLAY=":$(head -n 1 build-windows/xvfb.display)"
"$wine" wineboot --init </dev/null
# With no window manager on the display, Wine waits two seconds for one at
# every window it closes; unmanaged windows need no such wait.
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null

ctest --test-dir build-windows --output-on-failure --timeout 300
