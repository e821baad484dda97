#!/usr/bin/env bash
# Builds duotint and opens it on the bundled sample picture (type "cat" and
# Enter in the name popup).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${DUOTINT_BUILD:-$root/build}
if [ -z "${DISPLAY:-}" ]; then
  echo "run: no display (DISPLAY is not set); start duotint from a desktop session or under Xvfb." >&2
  exit 1
fi
"$root/tools/build.sh"
cd "$root/samples"
WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" exec wine "$build/duotint.exe"
