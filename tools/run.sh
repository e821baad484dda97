#!/usr/bin/env bash
# Builds duotint and opens it on the bundled sample picture, or on PATH when
# one is given; --popup starts it with its name popup in samples/ instead. It uses a Wine prefix of its own with Wine's
# default window handling, so that the desktop's window manager manages
# duotint's windows like any other program's; the prefix of the tests leaves
# windows unmanaged, which suits only a display without a window manager.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${DUOTINT_BUILD:-$root/build}
if [ -z "${DISPLAY:-}" ]; then
  echo "run: no display (DISPLAY is not set); start duotint from a desktop session or under Xvfb." >&2
  exit 1
fi
"$root/tools/build.sh"
export WINEPREFIX="$build/wineprefix-desktop"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "run: initialising the Wine prefix in $WINEPREFIX"
  WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all wineboot -i >/dev/null 2>&1 || true
  wineserver -w || true
fi
picture=("$root/samples/cat.bmp")
if [ "${1:-}" = "--popup" ]; then
  picture=()
elif [ -n "${1:-}" ]; then
  picture=("$(cd "$(dirname "$1")" && pwd)/$(basename "$1")")
fi
cd "$root/samples"
WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" exec wine "$build/duotint.exe" "${picture[@]}"
