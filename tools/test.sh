#!/usr/bin/env bash
# Builds everything and runs every test (unit and end-to-end) on a private
# Xvfb display of 1920x1080x24, two ctest entries at a time (the end-to-end
# entries hold a lock on the display and run one after another). Arguments go
# to ctest: -L unit, -L e2e, -R editor.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${DUOTINT_BUILD:-$root/build}
"$root/tools/build.sh"

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export WINEPREFIX="$build/wineprefix"
cleanup() { WINEPREFIX="$WINEPREFIX" wineserver -k 2>/dev/null || true; kill "$xvfb" 2>/dev/null || true; }
trap cleanup EXIT
for _ in $(seq 50); do
  [ -e "/tmp/.X11-unix/X${display#:}" ] && break
  sleep 0.1
done
export DISPLAY=$display
# One Wine server for the whole run, instead of one started per test program.
# Its helper processes start here with the first program, so that they hold
# no test's output open.
wineserver -p
WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wine cmd /c exit </dev/null >/dev/null 2>&1
cd "$build"
ctest --output-on-failure -j "${DUOTINT_TEST_JOBS:-2}" "$@"
