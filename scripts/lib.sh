# Shared by the scripts in this folder: source it, do not run it.

# The Debian packages the build and the tests need.
PKLFIX_PACKAGES=(
  cmake ninja-build g++ pkg-config libssl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev fonts-dejavu-core fonts-liberation2 fonts-ipafont-gothic
)

# Installs those of the named packages that are missing; apt-get update runs
# only when something is to be installed.
ensure_packages() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Qt refuses to start without a private runtime folder when run as root.
ensure_runtime_dir() {
  if [ -z "${XDG_RUNTIME_DIR:-}" ] || [ ! -d "$XDG_RUNTIME_DIR" ]; then
    export XDG_RUNTIME_DIR="${TMPDIR:-/tmp}/pklfix-runtime-$(id -u)"
    mkdir -p "$XDG_RUNTIME_DIR"
    chmod 0700 "$XDG_RUNTIME_DIR"
  fi
}

# Wine for the Windows build in folder $1: the same prefix the build's test
# commands use (see the toolchain file). Wine refuses a prefix owned by
# another user; this one is the caller's. winemenubuilder would copy an
# installer's Start menu entry into this machine's own menus. Sets wine,
# wineserver and xvfb for start_wine and stop_wine.
wine_environment() {
  export WINEPREFIX="$PWD/$1/wine" WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
  wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
  xvfb=
}

# Starts a virtual display and one Wine server for every Windows process
# that follows, for the Windows build in folder $1; $2 is a scratch folder.
# Both stop, and the scratch folder goes, when the script exits.
start_wine() {
  wine_environment "$1"
  wine_scratch=$2
  trap 'stop_wine; rm -rf "$wine_scratch"' EXIT
  # Wine draws windows only on an X display. One started only for the
  # installer's part went unused (the Start menu entry showed no window),
  # one started before Wine is used works: so the display comes first.
  Xvfb -displayfd 3 -screen 0 1024x768x24 3>"$wine_scratch/display" </dev/null >/dev/null 2>&1 &
  xvfb=$!
  # One server for the whole run, so that each process starts at once. Its
  # output goes to a file: a server holding the caller's stdout open would
  # keep a pipe reading the caller waiting after the caller is done.
  mkdir -p "$WINEPREFIX"
  "$wineserver" --persistent </dev/null >>"$WINEPREFIX/../wineserver.log" 2>&1
  local _
  for _ in $(seq 100); do
    [ -s "$wine_scratch/display" ] && break
    sleep 0.1
  done
  [ -s "$wine_scratch/display" ] || { echo "Xvfb did not start" >&2; return 1; }
  export DISPLAY=":$(cat "$wine_scratch/display")"
  "$wine" wineboot --init </dev/null
  # With no window manager on the display, Wine waits two seconds for one at
  # every window it closes; unmanaged windows need no such wait.
  "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
}

stop_wine() {
  "$wineserver" --kill
  "$wineserver" --wait
  [ -z "$xvfb" ] || kill "$xvfb"
}
