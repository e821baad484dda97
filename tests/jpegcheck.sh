#!/bin/sh
# Runs the unit tests' JPEG encoder table with its files kept, and has two
# independent readers of Debian's check every one: djpeg (libjpeg-turbo)
# decodes it without a warning, and ImageMagick's identify estimates from its
# tables the quality its name says. The table then runs again against
# djpeg's BMP of each file, which must hold the tinted picture as closely
# as the platform's decoding does (exactly where the row says). Each reader
# that is not installed is skipped; with neither, the whole check is (77).
# Usage: jpegcheck.sh WINE UNIT_TESTS_EXE
wine=$1 tests=$2
have_djpeg=$(command -v djpeg)
have_identify=$(command -v identify)
[ -n "$have_djpeg$have_identify" ] || { echo "neither djpeg nor identify is installed: skipped"; exit 77; }
. "$(dirname "$0")/support/kept_files.sh"
run_keeping DUOTINT_JPEG_KEEP 'JpegEncode.DecodesToTheTintedPictureAtTheQualityAsked' "$1" "$2"
set -- "$keep"/*.jpg
[ -f "$1" ] || { echo "no JPEG was kept"; exit 1; }
failed=0
for file in "$@"; do
  name=$(basename "$file")
  if [ -n "$have_djpeg" ]; then
    warnings=$(djpeg -bmp -outfile "${file%.jpg}.bmp" "$file" 2>&1)
    [ -z "$warnings" ] || { echo "$name: djpeg: $warnings"; failed=1; }
  fi
  if [ -n "$have_identify" ]; then
    asked=${name#q}
    asked=${asked%%-*}
    read=$(identify -format '%Q' "$file" 2>&1)
    [ "$read" = "$asked" ] || { echo "$name: identify reads quality '$read', not $asked"; failed=1; }
  fi
done
echo "djpeg ${have_djpeg:+and }identify on $# files: $([ $failed -eq 0 ] && echo clean || echo faults above)"
if [ -n "$have_djpeg" ]; then
  DUOTINT_JPEG_DJPEG="Z:$(printf '%s' "$keep" | tr / '\\')" "$wine" "$tests" \
    --gtest_filter='JpegEncode.DecodesToTheTintedPictureAtTheQualityAsked' >"$keep/djpeg.txt" 2>&1
  status=$?
  if [ "$status" -eq 0 ] && grep -q '^\[  PASSED  \] 1 test' "$keep/djpeg.txt"; then
    echo "djpeg's pixels: as near the tinted picture as each row asks"
  else
    cat "$keep/djpeg.txt"
    echo "djpeg's pixels: faults above"
    failed=1
  fi
fi
exit $failed
