#!/bin/sh
# The JPEG corpus: one picture of each kind the decoding process reads or
# refuses, made here with Debian's cjpeg and ImageMagick's convert from one
# picture of odd size, hard edges and gradients. The unit test
# LoadPicture.JpegCorpusGivesDjpegsPixelsOrItsRefusal reads each through the
# program's read path: a picture read must give the rows of djpeg's 24-bit
# BMP of it byte for byte, a picture refused a sentence holding the row's
# words. Skipped (77) without cjpeg, djpeg and convert.
# Usage: jpeg_corpus.sh WINE UNIT_TESTS_EXE
for tool in cjpeg djpeg convert; do
  command -v $tool >/dev/null 2>&1 || { echo "$tool is not installed: skipped"; exit 77; }
done
set -e
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
cd "$corpus"

# An ASCII PPM of W x H: red and green gradients across and down, blue in 4 x 4
# squares, so that upsampling meets both smooth colour and hard edges.
ppm() {
  awk -v w="$1" -v h="$2" 'BEGIN {
    print "P3"; print w, h; print 255
    for (y = 0; y < h; y++)
      for (x = 0; x < w; x++)
        print (x * 37 + y * 5) % 256, (y * 23 + x * x) % 256, ((int(x / 4) + int(y / 4)) % 2) * 200 + 30
  }'
}
ppm 45 29 >source.ppm
ppm 1 1 >1x1.ppm
ppm 1 17 >1x17.ppm
ppm 17 1 >17x1.ppm

# Where the first marker FF xx stands in a file, as a byte offset.
marker_at() {
  LC_ALL=C grep -obUaP "\\xff\\x$2" "$1" | head -n 1 | cut -d: -f1
}
# Writes the octal-escaped bytes $3 into file $1 at offset $2.
poke() {
  printf "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

# The table: the file, how it is made, and what it gives: djpeg's pixels, or
# words of its refusal.
while read -r file expected make; do
  [ -n "$file" ] || continue
  eval "$make"
  printf '%s\t%s\n' "$file" "$expected" >>cases.txt
  # -rgb writes a grey picture as 24-bit rows too; CMYK takes no -rgb, and
  # its BMP is RGB anyway.
  if [ "$expected" = djpeg ]; then
    djpeg -rgb -bmp -outfile "$file.bmp" "$file" 2>/dev/null || djpeg -bmp -outfile "$file.bmp" "$file"
  fi
done <<'TABLE'
base444.jpg      djpeg            cjpeg -sample 1x1 -outfile base444.jpg source.ppm
base422.jpg      djpeg            cjpeg -sample 2x1 -outfile base422.jpg source.ppm
base420.jpg      djpeg            cjpeg -sample 2x2 -outfile base420.jpg source.ppm
base440.jpg      djpeg            cjpeg -sample 1x2 -outfile base440.jpg source.ppm
grey.jpg         djpeg            cjpeg -grayscale -outfile grey.jpg source.ppm
progressive.jpg  djpeg            cjpeg -progressive -outfile progressive.jpg source.ppm
arithmetic.jpg   djpeg            cjpeg -arithmetic -sample 2x2 -outfile arithmetic.jpg source.ppm
restarts.jpg     djpeg            cjpeg -restart 1 -outfile restarts.jpg source.ppm
cmyk-adobe.jpg   djpeg            convert source.ppm -colorspace CMYK cmyk-adobe.jpg
1x1.jpg          djpeg            cjpeg -outfile 1x1.jpg 1x1.ppm
1x17.jpg         djpeg            cjpeg -outfile 1x17.jpg 1x17.ppm
17x1.jpg         djpeg            cjpeg -outfile 17x1.jpg 17x1.ppm
cut.jpg          is_cut_short     head -c 1200 base420.jpg >cut.jpg
corrupt.jpg      is_damaged       cp base420.jpg corrupt.jpg; poke corrupt.jpg $(($(marker_at corrupt.jpg da) + 200)) '\377\323\377\321'
12bit.jpg        a_12-bit_JPEG    cp base420.jpg 12bit.jpg; poke 12bit.jpg $(($(marker_at 12bit.jpg c0) + 4)) '\014'
TABLE
# The words of a refusal stand with underscores for their spaces in the table.
sed -i 's/_/ /g' cases.txt

env DUOTINT_JPEG_CORPUS="Z:$(printf '%s' "$corpus" | tr / '\\')" "$1" "$2" \
  --gtest_filter='LoadPicture.JpegCorpusGivesDjpegsPixelsOrItsRefusal' >run.txt 2>&1 || status=$?
cat run.txt
# A program that crashes under Wine may still end with 0: the case's own verdict is read too.
[ "${status:-0}" -eq 0 ] && grep -q '^\[  PASSED  \] 1 test' run.txt
