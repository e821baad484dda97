#!/usr/bin/env bash
# Builds everything and runs every test (unit and end-to-end) on private Xvfb
# displays of 1920x1080x24. Entries that put windows on the screen each get a
# display of their own, with its own Wine prefix, so that several run side by
# side; DUOTINT_DISPLAYS says how many displays (3), DUOTINT_TEST_JOBS how
# many entries at a time (one more than the displays). DUOTINT_TEST_LOAD=N
# runs N busy loops beside the tests, as a busy machine would (0). Arguments
# go to ctest: -L unit, -L e2e, -R editor.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${DUOTINT_BUILD:-$root/build}
load=${DUOTINT_TEST_LOAD:-0}
if ! [[ $load =~ ^[0-9]+$ ]]; then
  echo "DUOTINT_TEST_LOAD is a number of busy loops, not '$load'" >&2
  exit 2
fi
"$root/tools/build.sh"

count=${DUOTINT_DISPLAYS:-3}
displays=()
prefixes=()
xvfbs=()
busy=()
cleanup() {
  for pid in "${busy[@]}"; do kill "$pid" 2>/dev/null || true; done
  for prefix in "${prefixes[@]}"; do WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true; done
  for pid in "${xvfbs[@]}"; do kill "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT
# A signal ends the run through the cleanup too.
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP
numbers=$(mktemp -d)
for ((i = 0; i < count; i++)); do
  # Xvfb takes a free display number itself and writes it once it is ready;
  # a number of our own choosing might be another run's display.
  Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$numbers/$i" >/dev/null 2>&1 &
  xvfbs+=($!)
  for _ in $(seq 100); do
    [ -s "$numbers/$i" ] && break
    sleep 0.05
  done
  displays+=(":$(head -n 1 "$numbers/$i")")
  prefix="$build/wineprefix"
  if [ "$i" -gt 0 ]; then
    prefix="$build/wineprefix-$i"
    # A copy of the prepared prefix: its large files are shared as hard links
    # (Wine only reads them), its registry files are copied, since the
    # server rewrites them.
    if [ ! -f "$prefix/system.reg" ] || [ "$prefix/user.reg" -ot "$build/wineprefix/user.reg" ]; then
      rm -rf "$prefix"
      cp -al "$build/wineprefix" "$prefix"
      for reg in "$prefix"/*.reg; do cp --remove-destination "$build/wineprefix/$(basename "$reg")" "$reg"; done
    fi
  fi
  prefixes+=("$prefix")
done
rm -rf "$numbers"
# One Wine server per prefix for the whole run, instead of one started per
# test program. Their helper processes start here with the first program, so
# that they hold no test's output open.
warmups=()
for ((i = 0; i < count; i++)); do
  WINEPREFIX="${prefixes[$i]}" wineserver -p
  WINEPREFIX="${prefixes[$i]}" DISPLAY="${displays[$i]}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
    wine cmd /c exit </dev/null >/dev/null 2>&1 &
  warmups+=($!)
done
wait "${warmups[@]}"
export WINEPREFIX="$build/wineprefix"
export DISPLAY=${displays[0]}
export DUOTINT_DISPLAY_LIST="${displays[*]}"
resources="$build/displays.json"
{
  printf '{"version": {"major": 1, "minor": 0}, "local": [{"displays": ['
  for ((i = 0; i < count; i++)); do
    printf '%s{"id": "%d", "slots": 1}' "$([ "$i" -gt 0 ] && echo ', ')" "$i"
  done
  printf ']}]}\n'
} >"$resources"
# Each busy loop also ends by itself once this script has gone, should it be
# killed too hard for the cleanup to run.
for ((i = 0; i < load; i++)); do
  sh -c 'while kill -0 "$1" 2>/dev/null; do :; done' busy-loop $$ &
  busy+=($!)
done
cd "$build"
ctest --output-on-failure -j "${DUOTINT_TEST_JOBS:-$((count + 1))}" "$@"
