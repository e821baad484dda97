#!/usr/bin/env bash
# Builds duotint's benchmark and runs it under wine on a private Xvfb display
# of 1920x1080x24, in a scratch folder (it writes about 220 MB there).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${DUOTINT_BUILD:-$root/build}
"$root/tools/build.sh" >/dev/null

# Xvfb takes a free display number itself and writes it once it is ready,
# as in tools/test.sh.
number=$(mktemp)
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$number" >/dev/null 2>&1 &
xvfb=$!
work=$(mktemp -d "${TMPDIR:-/tmp}/duotint-bench.XXXXXX")
export WINEPREFIX="$build/wineprefix"
cleanup() {
  WINEPREFIX="$WINEPREFIX" wineserver -k 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  rm -rf "$work" "$number"
}
trap cleanup EXIT
for _ in $(seq 100); do
  [ -s "$number" ] && break
  sleep 0.05
done
display=":$(head -n 1 "$number")"
export DUOTINT_EXE="$build/duotint.exe" DISPLAY=$display WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cd "$work"
wine "$build/bench/bench.exe" "$@"  # "open": the open latency alone; "formats": PNG and JPEG; "cli": duotint-cli
