#!/usr/bin/env bash
# Runs duotint-cli under the project's Wine prefix with the arguments as
# given: Wine takes a Unix path, relative or absolute, as it stands.
#   bash tools/cli.sh --tint 255,140,40,45,40,20,70,220,35 --format png --out tinted photos
# The three programs are built first when anything they are made from
# changed (tools/programs.sh); the build's output shows only when it fails.
# duotint-cli's exit code is the script's, and its lines end in LF instead of
# the console's CR LF.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${DUOTINT_BUILD:-$root/build}
. "$root/tools/programs.sh"
if ! programs_build; then
  echo "cli: the build failed, so duotint-cli did not run." >&2
  exit 1
fi
programs_cli "$@"
