#!/bin/sh
# Runs the unit tests' PNG export cases with their files kept, and has
# pngcheck, a strict reader of Debian's, check every one: chunk CRCs, the
# zlib stream and its checksum, the filter bytes. Skipped (77) without it.
# Usage: pngcheck.sh WINE UNIT_TESTS_EXE
command -v pngcheck >/dev/null 2>&1 || { echo "pngcheck is not installed: skipped"; exit 77; }
keep=$(mktemp -d)
trap 'rm -rf "$keep"' EXIT
# The folder as the Windows program names it: Wine maps / to Z:. A program
# that crashes under Wine may still end with 0, so the cases' own verdict
# is read too.
DUOTINT_PNG_KEEP="Z:$(printf '%s' "$keep" | tr / '\\')" "$1" "$2" \
  --gtest_filter='ExportTest.PngDecodesToTheTintedPixelsHoweverItIsCut' >"$keep/run.txt" 2>&1
status=$?
cat "$keep/run.txt"
[ "$status" -eq 0 ] && grep -q '^\[  PASSED  \] 1 test' "$keep/run.txt" || exit 1
set -- "$keep"/*.png
[ -f "$1" ] || { echo "no PNG was kept"; exit 1; }
echo "pngcheck on $# files:"
pngcheck "$@"
