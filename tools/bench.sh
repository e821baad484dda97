#!/usr/bin/env bash
# Builds duotint's benchmark and runs it under wine on a private Xvfb display
# of 1920x1080x24, in a scratch folder (it writes about 220 MB there).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${DUOTINT_BUILD:-$root/build}
"$root/tools/build.sh" >/dev/null

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
work=$(mktemp -d "${TMPDIR:-/tmp}/duotint-bench.XXXXXX")
export WINEPREFIX="$build/wineprefix"
cleanup() {
  WINEPREFIX="$WINEPREFIX" wineserver -k 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
for _ in $(seq 50); do
  [ -e "/tmp/.X11-unix/X${display#:}" ] && break
  sleep 0.1
done
export DUOTINT_EXE="$build/duotint.exe" DISPLAY=$display WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cd "$work"
wine "$build/bench/bench.exe" "$@"  # "open": the open latency alone; "formats": PNG and JPEG; "cli": duotint-cli
