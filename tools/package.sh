#!/usr/bin/env bash
# Builds duotint and writes the release a Windows user downloads:
# dist/duotint-<version>-win64.zip with duotint.exe, README.md, LICENSE and
# the sample picture. The build makes the zip; this copies it out of build/,
# and makes docs/looks.md's pictures again (tools/looks.sh): check in any
# change it makes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${DUOTINT_BUILD:-$root/build}
"$root/tools/build.sh" >/dev/null
# The pictures of docs/looks.md, made again by this build's duotint-cli.
DUOTINT_PREBUILT=1 "$root/tools/looks.sh"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
zip="duotint-$version-win64.zip"
mkdir -p "$root/dist"
cp "$build/dist/$zip" "$root/dist/$zip"
echo "package: $root/dist/$zip"
