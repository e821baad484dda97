#!/usr/bin/env bash
# Builds everything and runs every test (unit and end-to-end) on a private
# Xvfb display of 1920x1080x24.
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
cd "$build"
ctest --output-on-failure "$@"
