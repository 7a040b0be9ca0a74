#!/usr/bin/env bash
# Cross-builds the engine, pklfix-cli and their tests for Windows with
# MinGW-w64 (Release, statically linked), checks that the programs need no
# DLL that Windows does not ship, and runs the tests under Wine: the unit
# tests (the Windows-only ones included), pklfix-cli.exe end to end, and
# pklfix-cli.exe on a console.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

ensure_packages cmake ninja-build g++-mingw-w64-x86-64-posix googletest wine64 bsdutils

cmake --preset windows
cmake --build --preset windows

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

programs=(build-windows/bin/pklfix-cli.exe)
if grep -q '^PKLFIX_BUILD_GUI:BOOL=ON' build-windows/CMakeCache.txt; then
  programs+=(build-windows/bin/pklfix.exe)
fi
# The DLLs every Windows has in System32. Anything else would have to ship
# beside the program; the C++ runtime and winpthreads are linked in.
system_dlls=" advapi32.dll comctl32.dll comdlg32.dll gdi32.dll imm32.dll kernel32.dll msvcrt.dll "
system_dlls+="ole32.dll oleaut32.dll shell32.dll shlwapi.dll user32.dll uxtheme.dll version.dll "
for program in "${programs[@]}"; do
  header=$(x86_64-w64-mingw32-objdump -p "$program")
  dlls=$(sed -n 's/^\tDLL Name: //p' <<<"$header" | tr 'A-Z' 'a-z' | LC_ALL=C sort -u | tr '\n' ' ')
  for dll in $dlls; do
    [[ $system_dlls == *" $dll "* ]] || fail "$program needs $dll, which Windows does not ship"
  done
  echo "$program ($(stat -c %s "$program") bytes) imports: $dlls"
done

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
