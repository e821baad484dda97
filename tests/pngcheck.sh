#!/bin/sh
# Runs the unit tests' PNG export cases with their files kept, and has
# pngcheck, a strict reader of Debian's, check every one: chunk CRCs, the
# zlib stream and its checksum, the filter bytes. Skipped (77) without it.
# Usage: pngcheck.sh WINE UNIT_TESTS_EXE
command -v pngcheck >/dev/null 2>&1 || { echo "pngcheck is not installed: skipped"; exit 77; }
. "$(dirname "$0")/support/kept_files.sh"
run_keeping DUOTINT_PNG_KEEP 'ExportTest.PngDecodesToTheTintedPixelsHoweverItIsCut' "$1" "$2"
set -- "$keep"/*.png
[ -f "$1" ] || { echo "no PNG was kept"; exit 1; }
echo "pngcheck on $# files:"
pngcheck "$@"
