#!/usr/bin/env bash
# Builds duotint's three programs (not the tests or the benchmark) when
# anything they are made from changed (tools/programs.sh), and opens
# the editor on the bundled sample picture, or on PATH when one is given;
# --popup starts it with its name popup in samples/ instead. The editor's own
# words go to it before PATH:
#   bash tools/run.sh --tint 255,140,40,45,40,20,70,220,35 --format png photos/cat.jpg
# An export prints its look as duotint-cli's words on standard output; this
# script's own output goes to standard error, so look=$(bash tools/run.sh)
# holds that line alone.
#
# It runs the editor in a Wine prefix of its own (tools/programs.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${DUOTINT_BUILD:-$root/build}
if [ -z "${DISPLAY:-}" ]; then
  echo "run: no display (DISPLAY is not set); start duotint from a desktop session or under Xvfb." >&2
  exit 1
fi

words=()
popup=no
while [ $# -gt 0 ]; do
  case $1 in
    --popup) popup=yes; shift ;;
    # The editor's own words, which it checks itself: each with its value.
    --version) words+=("$1"); shift ;;
    --*=*) words+=("$1"); shift ;;
    --*)
      [ $# -gt 1 ] || { echo "run: $1 needs a value after it." >&2; exit 64; }
      words+=("$1" "$2"); shift 2 ;;
    *) break ;;
  esac
done
picture=("$root/samples/sunset.bmp")
if [ $popup = yes ]; then
  picture=()
  [ $# -eq 0 ] || { echo "run: --popup opens the name popup; it takes no PATH ($1)." >&2; exit 64; }
elif [ $# -gt 0 ]; then
  [ $# -eq 1 ] || { echo "run: the editor opens one picture; $2 would be left out." >&2; exit 64; }
  # The editor runs in samples/, so a relative PATH is made absolute here;
  # Wine reaches an absolute Unix path as it stands.
  picture=("$1")
  [[ $1 == /* ]] || picture=("$PWD/$1")
fi

. "$root/tools/programs.sh"
programs_show=yes programs_build
cd "$root/samples"
programs_editor "${words[@]}" "${picture[@]}"
