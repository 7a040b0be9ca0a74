#!/usr/bin/env bash
# Cross-builds pklfix for Windows with MinGW-w64 (Release, statically
# linked), with its installer and its zip, and proves under Wine what a
# Windows user gets:
#   - neither program needs a DLL that Windows does not ship;
#   - the unit tests (the Windows-only ones included), the window's tests,
#     which click through it on a virtual display, pklfix-cli.exe on a
#     folder of result files, and on a console;
#   - the installer and the zip hold the same files;
#   - the installer installs quietly, its pklfix-cli.exe corrects a folder,
#     it adds the Start menu entry and the entry in the installed programs, a
#     later version replaces it, and uninstalling removes every file.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

ensure_packages cmake ninja-build g++-mingw-w64-x86-64-posix googletest wine64 wixl msitools \
  bsdutils xvfb xauth xdotool

cmake --preset windows
cmake --build --preset windows
cmake --build --preset windows --target msi zip

build=build-windows
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
msi=pklfix-$version-x64.msi
zip=pklfix-$version-win64.zip
work=$(mktemp -d "${TMPDIR:-/tmp}/pklfix-windows.XXXXXX")

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

start_wine "$build" "$work"

echo "== What the downloads hold"
# The window is packaged exactly when the build has one.
window=$(sed -n 's/.*define HaveWindow = "\(.*\)".*/\1/p' "$build/packaging/windows/pklfix.wxs")
if grep -q '^PKLFIX_BUILD_GUI:BOOL=ON' "$build/CMakeCache.txt" && [ "$window" != yes ]; then
  fail "the window is built but not packaged"
fi
expected="LICENSE.txt README.txt pklfix-cli.exe "
[ "$window" = yes ] && expected+="pklfix.exe "
msi_files=$(msiinfo export "$build/$msi" File | tr -d '\r' | tail -n +4 | cut -f3 | LC_ALL=C sort |
  tr '\n' ' ')
[ "$msi_files" = "$expected" ] || fail "$msi holds: $msi_files"
(cd "$work" && cmake -E tar xf "$OLDPWD/$build/$zip")
unzipped="$work/pklfix-$version-win64"
zip_files=$(cd "$unzipped" && LC_ALL=C ls | tr '\n' ' ')
[ "$zip_files" = "$expected" ] || fail "$zip holds: $zip_files"
echo "$msi and $zip hold: $expected"

# The DLLs every Windows has in System32. Anything else would have to ship
# beside the program; the C++ runtime and winpthreads are linked in.
system_dlls=" advapi32.dll bcrypt.dll comctl32.dll comdlg32.dll gdi32.dll imm32.dll kernel32.dll mpr.dll msvcrt.dll "
system_dlls+="ole32.dll oleaut32.dll shell32.dll shlwapi.dll user32.dll uxtheme.dll version.dll "
for program in $expected; do
  case $program in *.exe) ;; *) continue ;; esac
  header=$(x86_64-w64-mingw32-objdump -p "$unzipped/$program")
  dlls=$(sed -n 's/^\tDLL Name: //p' <<<"$header" | tr 'A-Z' 'a-z' | LC_ALL=C sort -u | tr '\n' ' ')
  for dll in $dlls; do
    [[ $system_dlls == *" $dll "* ]] || fail "$program needs $dll, which Windows does not ship"
  done
  subsystem=$(sed -n 's/^Subsystem.*(\(.*\))$/\1/p' <<<"$header")
  want="Windows CUI"
  [ "$program" = pklfix.exe ] && want="Windows GUI"  # no console window
  [ "$subsystem" = "$want" ] || fail "$program is a $subsystem program"
  echo "$program ($subsystem, $(stat -c %s "$unzipped/$program") bytes) imports: $dlls"
done

echo "== Tests under Wine"
ctest --test-dir "$build" --output-on-failure --timeout 300

echo "== The installer under Wine"
drive_c="$WINEPREFIX/drive_c"
installed="$drive_c/Program Files/pklfix"
start_menus=("$drive_c/ProgramData/Microsoft/Windows/Start Menu" "$drive_c/users")
product_code=$(msiinfo export "$build/$msi" Property | tr -d '\r' |
  sed -n 's/^ProductCode\t{\(.*\)}$/\1/p')
uninstall_keys='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'

msiexec() {  # msiexec ARGUMENTS..., with packages named relative to the build folder
  (cd "$build" && "$wine" msiexec "$@" </dev/null)
}
reg_value() {  # KEY NAME: the value's data; nothing when there is none
  "$wine" reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p" ||
    true
}
shortcuts() {
  find "${start_menus[@]}" -iname 'pklfix.lnk' 2>/dev/null || true
}

# The product as a later version: the same package source with a higher
# version and that version's own product code, which a release would have.
later=99.00
later_code=5C3E8F0A-7B1D-5E2F-9A4C-6D8B0E1F2A3B
wxs_folder="$build/packaging/windows"
sed -e "s/Version=\"$version\"/Version=\"$later\"/" \
  -e "s/Id=\"$product_code\"/Id=\"$later_code\"/" "$wxs_folder/pklfix.wxs" >"$wxs_folder/later.wxs"
grep -q "Id=\"$later_code\"" "$wxs_folder/later.wxs" &&
  grep -q "Version=\"$later\"" "$wxs_folder/later.wxs" || fail "no later version made"
(cd "$wxs_folder" && wixl -a x64 -o ../../pklfix-later-x64.msi later.wxs)

# An earlier run that failed half-way may have left pklfix installed.
msiexec /x "$msi" /qn || true
msiexec /x pklfix-later-x64.msi /qn || true
[ ! -e "$installed" ] && [ -z "$(shortcuts)" ] || fail "pklfix is installed before the test"

# Opens the Start menu entry LINK as a click would and waits for a window
# of pklfix.exe; then ends that process.
start_from_menu() {
  local link="C:\\${1#"$drive_c/"}" pid=
  "$wine" start "${link//\//\\}" </dev/null
  for _ in $(seq 100); do
    pid=$(xdotool search --classname '^pklfix\.exe$' getwindowpid 2>/dev/null | head -n 1) || true
    [ -n "$pid" ] && break
    sleep 0.1
  done
  [ -n "$pid" ] || fail "the Start menu entry shows no window of pklfix.exe"
  echo "the Start menu entry started $(tr '\0' ' ' </proc/"$pid"/cmdline | sed 's/ *$//')"
  kill "$pid"
  for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  fail "pklfix.exe (process $pid) does not end"
}

check_installed() {  # PRODUCT_CODE VERSION
  local key="$uninstall_keys\\{$1}"
  local files
  files=$(cd "$installed" && LC_ALL=C ls | tr '\n' ' ')
  [ "$files" = "$expected" ] || fail "installed: $files"
  for file in $expected; do
    cmp -s "$installed/$file" "$unzipped/$file" || fail "installed $file differs from the zip's"
  done
  [ "$(reg_value "$key" DisplayName)" = pklfix ] || fail "no entry $key in the installed programs"
  [ "$(reg_value "$key" DisplayVersion)" = "$2" ] ||
    fail "$key: version $(reg_value "$key" DisplayVersion)"
  [ "$(reg_value "$key" Publisher)" = pklfix ] ||
    fail "$key: publisher $(reg_value "$key" Publisher)"
  # The list of installed programs shows an installer's product icon.
  cmp -s "$drive_c/windows/Installer/{$1}/pklfix.ico" packaging/icons/pklfix.ico ||
    fail "the product icon is not installed"
  "$wine" reg query 'HKLM\Software\Classes\Installer\Products' /s | tr -d '\r' |
    grep -F "ProductIcon    REG_SZ    C:\\windows\\Installer\\{$1}\\pklfix.ico" >/dev/null ||
    fail "the product icon is not registered"
  local links
  links=$(shortcuts)
  if [ "$window" = yes ]; then
    [ "$(wc -l <<<"$links")" -eq 1 ] && [ -n "$links" ] || fail "Start menu entries: ${links:-none}"
    # A shell link holds its target, working folder and icon as UTF-16.
    local link
    link=$(tr -d '\0' <"$links")
    [[ $link == *'C:\Program Files\pklfix\pklfix.exe'* ]] ||
      fail "the Start menu entry starts no pklfix.exe"
    [[ $link == *"C:\\windows\\Installer\\{$1}\\pklfix.ico"* ]] ||
      fail "the Start menu entry has no icon"
    echo "Start menu entry: ${links#"$drive_c/"}"
    start_from_menu "$links"
  else
    [ -z "$links" ] || fail "a Start menu entry without the window: $links"
  fi
}

check_removed() {  # PRODUCT_CODE
  [ ! -e "$installed" ] || fail "left installed: $(ls -A "$installed")"
  [ -z "$(shortcuts)" ] || fail "left in the Start menu: $(shortcuts)"
  [ -z "$(reg_value "$uninstall_keys\\{$1}" DisplayName)" ] ||
    fail "still in the installed programs"
  [ ! -e "$drive_c/windows/Installer/{$1}" ] || fail "the product icon is left"
}

msiexec /i "$msi" /qn || fail "msiexec /i $msi: exit status $?"
check_installed "$product_code" "$version"
echo "installed in ${installed#"$drive_c/"}: $expected"
bash tests/app/cli_end_to_end.sh --windows "$wine" 'C:\Program Files\pklfix\pklfix-cli.exe'
msiexec /x "$msi" /qn || fail "msiexec /x $msi: exit status $?"
check_removed "$product_code"
echo "uninstalled: nothing left"

msiexec /i "$msi" /qn || fail "msiexec /i $msi: exit status $?"
msiexec /i pklfix-later-x64.msi /qn || fail "msiexec /i of version $later: exit status $?"
check_installed "$later_code" "$later"
[ -z "$(reg_value "$uninstall_keys\\{$product_code}" DisplayName)" ] ||
  fail "version $version is still installed beside $later"
msiexec /x pklfix-later-x64.msi /qn || fail "msiexec /x of version $later: exit status $?"
check_removed "$later_code"
echo "version $later replaced $version, and its removal left nothing"

echo "check-windows: passed"
