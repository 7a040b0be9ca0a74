#!/usr/bin/env bash
# Builds the Debian package, installs it with apt as a user would, runs the
# installed programs, and removes the package again, checking that nothing
# of it is left. Also checks that `cmake --install` works from the source.
# Installs and purges the package "pklfix" on this machine: meant for CI.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

ensure_packages "${PKLFIX_PACKAGES[@]}" dpkg-dev desktop-file-utils man-db
ensure_runtime_dir

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

desktop-file-validate packaging/pklfix.desktop
man --warnings -l packaging/pklfix-cli.1 >/dev/null 2>"${TMPDIR:-/tmp}/pklfix-man.err" ||
  fail "man page: $(cat "${TMPDIR:-/tmp}/pklfix-man.err")"
[ ! -s "${TMPDIR:-/tmp}/pklfix-man.err" ] || fail "man page: $(cat "${TMPDIR:-/tmp}/pklfix-man.err")"

cmake --preset package
cmake --build --preset package
rm -f build-package/pklfix_*.deb
(cd build-package && cpack)
deb=$(ls build-package/pklfix_*.deb)

# 1. From source: cmake --install into a scratch prefix.
stage=build-package/stage
rm -rf "$stage"
cmake --install build-package --prefix "$PWD/$stage/usr"
"$stage/usr/bin/pklfix-cli" --version | grep -qx 'pklfix-cli 1.00' || fail "staged pklfix-cli"

# 2. What the package holds, and what it says it needs.
contents=$(dpkg-deb --contents "$deb" | awk '{print $6}' | sed 's|^\./|/|')
expected=(/usr/bin/pklfix-cli /usr/share/man/man1/pklfix-cli.1.gz
  /usr/share/doc/pklfix/LICENSE /usr/share/doc/pklfix/README.md)
with_window=false
if grep -qx /usr/bin/pklfix <<<"$contents"; then
  with_window=true
  expected+=(/usr/share/applications/pklfix.desktop)
  for size in 16 32 48 64 128 256; do
    expected+=("/usr/share/icons/hicolor/${size}x${size}/apps/pklfix.png")
  done
fi
for file in "${expected[@]}"; do
  grep -qx "$file" <<<"$contents" || fail "$deb lacks $file"
done
depends=$(dpkg-deb --field "$deb" Depends)
echo "Depends: $depends"
grep -q 'libstdc++6' <<<"$depends" || fail "Depends was not computed: $depends"
# The record's digests come from libcrypto.
grep -q 'libssl3' <<<"$depends" || fail "Depends lacks libcrypto (libssl3): $depends"
if $with_window; then
  grep -q 'libqt6widgets6' <<<"$depends" || fail "Depends lacks Qt: $depends"
fi

# 3. Install with apt, as a user would; a leftover from an earlier run goes
# first, so this run installs what it built.
if dpkg-query -W -f='${Status}' pklfix 2>/dev/null | grep -q 'ok installed'; then
  DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq pklfix
fi
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "./$deb"
for file in "${expected[@]}"; do
  [ -e "$file" ] || fail "installed package lacks $file"
done
[ "$(command -v pklfix-cli)" = /usr/bin/pklfix-cli ] || fail "pklfix-cli is not on PATH"
man -w pklfix-cli >/dev/null || fail "man pklfix-cli finds no page"
bash tests/app/cli_end_to_end.sh pklfix-cli

if $with_window; then
  # The window has opened when it is still running after a few seconds,
  # with no library or plugin missing; the timeout then stops it.
  status=0
  QT_QPA_PLATFORM=offscreen timeout 5 /usr/bin/pklfix >build-package/pklfix.log 2>&1 || status=$?
  [ "$status" -eq 124 ] || fail "pklfix exited with $status: $(cat build-package/pklfix.log)"
  if grep -Eiq 'error|cannot|could not|fail|abort' build-package/pklfix.log; then
    fail "pklfix complained: $(cat build-package/pklfix.log)"
  fi
  echo "installed pklfix opened offscreen"
else
  echo "the package has no window (pklfix): its check is skipped"
fi

# 4. Remove it: every file it installed must go.
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq pklfix
! dpkg-query -W -f='${Status}' pklfix 2>/dev/null | grep -q 'ok installed' ||
  fail "pklfix is still installed"
for file in "${expected[@]}" /usr/share/doc/pklfix; do
  [ ! -e "$file" ] || fail "$file is left after purge"
done
echo "package check: passed ($deb)"
