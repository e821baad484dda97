#!/bin/sh
# The picture corpus: one picture of each kind the decoding process reads
# with a library of its own, or refuses, made here with Debian's cjpeg,
# cwebp, img2webp, heif-enc, avifenc and apngasm and ImageMagick's convert
# from one picture of odd size, hard edges and gradients. The unit test
# LoadPicture.PictureCorpusGivesItsLibrarysToolPixelsOrItsRefusal reads each
# through the program's read path: a picture read must give the rows of the
# BMP the same library's tool writes of it (djpeg, dwebp, heif-convert), or
# ImageMagick's convert where the library has no such tool (PNG, GIF, TIFF;
# 16-bit samples by their top 8 bits; for kinds libtiff's RGBA reader shows,
# tiff2rgba's), byte for byte, a picture refused a sentence holding the
# row's words.
# Skipped (77) without the tools.
# Usage: picture_corpus.sh WINE UNIT_TESTS_EXE
for tool in cjpeg djpeg convert cwebp dwebp img2webp webpmux heif-enc heif-convert avifenc tiffcp tiffset tiff2rgba exiftool perl apngasm; do
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
# cwebp reads PNG: the same pictures, and one with an alpha gradient across
# and a hole of alpha 0, and a second frame for an animation.
for name in source 1x1 17x1; do convert $name.ppm $name.png; done
convert source.ppm \( -size 29x45 gradient: -rotate 90 -fill black -draw 'rectangle 30,10 36,16' \) \
  -alpha off -compose CopyOpacity -composite alpha.png
convert source.ppm -negate other.png
convert source.png -depth 16 source16.png
# Samples of all 16 bits, not 8 bits widened, with and without alpha.
convert source.ppm -fx 'u*0.96+0.04*((i*3+j)%11)/11' -depth 16 deep.png
convert alpha.png -fx 'u*0.96+0.04*((i*3+j)%11)/11' -depth 16 deep-alpha.png
# A JPEG whose EXIF orientation turns it: heif-enc keeps the EXIF block as
# it is; avifenc writes the turn as the file's own rotation besides.
cjpeg -quality 95 -outfile exif6.jpg source.ppm
exiftool -q -overwrite_original -Orientation#=6 exif6.jpg

# The first frame or page of picture $1, as ImageMagick's convert reads it,
# as BMP $2 of each sample's top 8 bits: the high byte of a 16-bit sample,
# the sample itself at 8 (convert widens it to v * 257), fewer bits repeated
# (a 2-bit 1 is 0x55). 32 bits a pixel
# where the picture has alpha, which the test keeps or flattens.
top8_bmp() {
  convert "$1[0]" -depth 16 -endian MSB rgba:- | perl -0777 -pe 's/(.)./$1/gs' >"$2.rgba"
  size=$(identify -format '%wx%h' "$1[0]")
  if convert "$1[0]" -format '%A' info: | grep -qi -e true -e blend; then
    convert -size "$size" -depth 8 rgba:"$2.rgba" -type TrueColorAlpha BMP:"$2"
  else
    convert -size "$size" -depth 8 rgba:"$2.rgba" -alpha off -type TrueColor BMP3:"$2"
  fi
}
# heif-convert's PNG, 16 bits a sample for a deeper picture.
heif_bmp() {
  heif-convert "$1" "$1.png" >/dev/null
  top8_bmp "$1.png" "$1.bmp"
}

# Where the first marker FF xx stands in a file, as a byte offset.
marker_at() {
  LC_ALL=C grep -obUaP "\\xff\\x$2" "$1" | head -n 1 | cut -d: -f1
}
# Where the first box of type $1 stands in file $2: the offset of its type.
box_at() {
  LC_ALL=C grep -obUa "$1" "$2" | head -n 1 | cut -d: -f1
}
# Splits the one IDAT chunk of PNG $1 in two, each with its checksum, as
# most encoders write several.
split_idat() {
  perl -MCompress::Zlib -0777 -pi -e 'my $at = index($_, "IDAT") - 4; my $n = unpack("N", substr($_, $at, 4));
    my $d = substr($_, $at + 8, $n); my $c = sub { pack("N", length $_[0]) . "IDAT" . $_[0] . pack("N", crc32("IDAT" . $_[0])) };
    substr($_, $at, $n + 12) = $c->(substr($d, 0, $n / 2)) . $c->(substr($d, $n / 2));' "$1"
}
# Where the $2-th IDAT chunk of PNG $1 stands (the offset of its type), and its checksum.
idat_at() {
  LC_ALL=C grep -obUa IDAT "$1" | sed -n "${2}p" | cut -d: -f1
}
idat_crc_at() {
  echo $(($(idat_at "$1" "$2") + 4 + $(od -An -tu4 --endian=big -j $(($(idat_at "$1" "$2") - 4)) -N4 "$1")))
}
# The first frame or page of picture $1, as convert reads it at 8 bits a
# sample, as BMP $1.bmp: 32 bits a pixel where it has alpha.
convert_bmp() {
  if convert "$1[0]" -format '%A' info: | grep -qi -e true -e blend; then
    convert "$1[0]" -type TrueColorAlpha BMP:"$1.bmp"
  else
    convert "$1[0]" -alpha off -type TrueColor BMP3:"$1.bmp"
  fi
}
# Where the bytes $2 (a grep -P pattern) first stand in file $1, as a byte offset.
bytes_at() {
  LC_ALL=C grep -obUaP "$2" "$1" | head -n 1 | cut -d: -f1
}
# Writes the octal-escaped bytes $3 into file $1 at offset $2.
poke() {
  printf "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

# associated.tif's alphas are odd, so that no colour divided by its alpha
# ends in one half, where ImageMagick's division in floating point rounds
# either way.
# The table: the file, how it is made, and what it gives: djpeg's or
# dwebp's pixels (dwebp-alpha: with the alpha kept, not flattened), or words
# of its refusal. dwebp reads no animation: an animation's row makes the BMP
# of its first frame itself.
while read -r file expected make; do
  [ -n "$file" ] || continue
  eval "$make"
  printf '%s\t%s\n' "$file" "$expected" >>cases.txt
  # -rgb writes a grey picture as 24-bit rows too; CMYK takes no -rgb, and
  # its BMP is RGB anyway.
  if [ "$expected" = djpeg ]; then
    djpeg -rgb -bmp -outfile "$file.bmp" "$file" 2>/dev/null || djpeg -bmp -outfile "$file.bmp" "$file"
  fi
  case $expected in
    dwebp*) [ -f "$file.bmp" ] || dwebp -quiet -bmp -o "$file.bmp" "$file" ;;
    heif-convert*) heif_bmp "$file" ;;
    convert16) top8_bmp "$file" "$file.bmp" ;;
    convert*)
      [ -f "$file.bmp" ] || case $file in
        *.png) top8_bmp "$file" "$file.bmp" ;;
        *) convert_bmp "$file" ;;
      esac ;;
    tiff2rgba) tiff2rgba -n "$file" "$file.rgb.tif"; top8_bmp "$file.rgb.tif" "$file.bmp" ;;
  esac
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
late.jpg         is_damaged       head -c $(($(stat -c %s base420.jpg) - 2)) base420.jpg >late.jpg; printf '\377\304\000\024\000\377\377\377\377\377\377\377\377\377\377\377\377\377\377\377\377\377\331' >>late.jpg
12bit.jpg        a_12-bit_JPEG    cp base420.jpg 12bit.jpg; poke 12bit.jpg $(($(marker_at 12bit.jpg c0) + 4)) '\014'
lossy.webp       dwebp            cwebp -quiet source.png -o lossy.webp
lossless.webp    dwebp            cwebp -quiet -lossless source.png -o lossless.webp
1x1.webp         dwebp            cwebp -quiet 1x1.png -o 1x1.webp
17x1.webp        dwebp            cwebp -quiet -lossless 17x1.png -o 17x1.webp
alpha.webp       dwebp            cwebp -quiet alpha.png -o alpha.webp
alpha-kept.webp  dwebp-alpha      cp alpha.webp alpha-kept.webp
alpha-ll.webp    dwebp-alpha      cwebp -quiet -lossless -exact alpha.png -o alpha-ll.webp
animated.webp    dwebp            img2webp -lossy source.png other.png -o animated.webp >/dev/null; webpmux -get frame 1 animated.webp -o first.webp >/dev/null; dwebp -quiet -bmp -o animated.webp.bmp first.webp
cut.webp         too_short_for_the_picture_it_declares  head -c 300 lossy.webp >cut.webp
zero.webp        declares_a_width_or_height_of_0        cp lossy.webp zero.webp; poke zero.webp 26 '\000\000'
huge.webp        16777216_x_16777216_pixels,_too_large  cp alpha.webp huge.webp; poke huge.webp 24 '\377\377\377\377\377\377'
corrupt.webp     is_damaged;_duotint_could_not_read     cp lossless.webp corrupt.webp; poke corrupt.webp 30 '\377\377\377\377'
short.webp       is_cut_short;_duotint_could_not_read   head -c 600 lossy.webp >short.webp; poke short.webp 4 '\120\002\0\0'; poke short.webp 16 '\104\002\0\0'
lossy.heic       heif-convert        heif-enc -q 60 -o lossy.heic source.png >/dev/null
lossless.heic    heif-convert        heif-enc -L -p chroma=444 -o lossless.heic source.png >/dev/null
large.heic       heif-convert        convert source.ppm -scale 1400x1100! large.png; heif-enc -q 60 -o large.heic large.png >/dev/null
10bit.heic       heif-convert        heif-enc -b 10 -o 10bit.heic source16.png >/dev/null
alpha.heic       heif-convert        heif-enc -o alpha.heic alpha.png >/dev/null
alpha-kept.heic  heif-convert-alpha  cp alpha.heic alpha-kept.heic
exif6.heic       heif-convert        heif-enc -o exif6.heic exif6.jpg >/dev/null
lossy.avif       heif-convert        avifenc source.png lossy.avif >/dev/null
10bit.avif       heif-convert        avifenc -d 10 source16.png 10bit.avif >/dev/null
alpha-kept.avif  heif-convert-alpha  avifenc alpha.png alpha-kept.avif >/dev/null
turned.avif      heif-convert        avifenc exif6.jpg turned.avif >/dev/null
mirrored.avif    heif-convert        avifenc --irot 3 --imir 1 source.png mirrored.avif >/dev/null
cut.heic         too_short_for_the_picture_it_declares  head -c $(($(box_at mdat lossy.heic) + 40)) lossy.heic >cut.heic
zero.avif        declares_a_width_or_height_of_0        cp lossy.avif zero.avif; poke zero.avif $(($(box_at ispe zero.avif) + 8)) '\0\0\0\0'
huge.avif        4294967295_x_4294967295_pixels,_too_large  cp lossy.avif huge.avif; poke huge.avif $(($(box_at ispe huge.avif) + 8)) '\377\377\377\377\377\377\377\377'
grey1.png        convert          convert source.ppm -colorspace gray -depth 1 grey1.png
grey2.png        convert          convert source.ppm -colorspace gray -depth 2 grey2.png
grey4.png        convert          convert source.ppm -colorspace gray -depth 4 grey4.png
grey8.png        convert          convert source.ppm -colorspace gray grey8.png
grey16.png       convert          convert deep.png -colorspace gray grey16.png
palette1.png     convert          convert source.ppm +dither -colors 2 -define png:exclude-chunks=bKGD palette1.png
palette2.png     convert          convert source.ppm +dither -colors 4 -define png:exclude-chunks=bKGD palette2.png
palette4.png     convert          convert source.ppm +dither -colors 16 -define png:exclude-chunks=bKGD palette4.png
palette8.png     convert          convert source.ppm +dither -colors 200 palette8.png
rgb8.png         convert          cp source.png rgb8.png
rgb16.png        convert          cp deep.png rgb16.png
grey-alpha8.png  convert-alpha    convert alpha.png -colorspace gray -define png:color-type=4 grey-alpha8.png
grey-alpha16.png convert          convert deep-alpha.png -colorspace gray grey-alpha16.png
rgba8.png        convert          cp alpha.png rgba8.png
rgba8-kept.png   convert-alpha    cp alpha.png rgba8-kept.png
rgba16.png       convert-alpha    cp deep-alpha.png rgba16.png
interlaced.png   convert          convert source.ppm -interlace PNG interlaced.png
interlaced-alpha.png convert-alpha  convert deep-alpha.png -interlace PNG interlaced-alpha.png
1x17-interlaced.png convert       convert 1x17.ppm -interlace PNG 1x17-interlaced.png
palette-trns.png convert-alpha    convert alpha.png +dither -colors 16 palette-trns.png
rgb-key.png      convert          convert source.ppm -fill 'rgb(37,28,230)' -draw 'rectangle 3,3 9,9' -transparent 'rgb(37,28,230)' -define png:color-type=2 rgb-key.png
grey-key.png     convert-alpha    convert grey8.png -fill 'gray(50%)' -draw 'rectangle 3,3 9,9' -transparent 'gray(50%)' -define png:color-type=0 grey-key.png
animated.png     convert          cp source.png frame1.png; cp other.png frame2.png; apngasm animated.png frame1.png >/dev/null; top8_bmp frame1.png animated.png.bmp
split.png        convert          cp rgb16.png split.png; split_idat split.png
cut.png          is_cut_short;_duotint_could_not_read_all_of_its_pixels_(the_decoder_says:_end_of_stream)  head -c $(($(idat_at split.png 2) + 100)) split.png >cut.png
crc.png          is_damaged;_duotint_could_not_read_all_of_its_pixels_(the_decoder_says:_invalid_chunk_checksum)  cp split.png crc.png; poke crc.png $(idat_crc_at crc.png 1) '\0\0\0\0'
crc-last.png     is_damaged;_duotint_could_not_read_all_of_its_pixels_(the_decoder_says:_invalid_chunk_checksum)  cp split.png crc-last.png; poke crc-last.png $(idat_crc_at crc-last.png 2) '\0\0\0\0'
zero.png         declares_a_width_or_height_of_0        cp rgb8.png zero.png; poke zero.png 16 '\0\0\0\0'
huge.png         65536_x_65536_pixels,_too_large        cp rgb8.png huge.png; poke huge.png 16 '\0\1\0\0\0\1\0\0'
still.gif        convert             convert source.ppm still.gif
animated.gif     convert             convert source.ppm other.png -set delay 10 animated.gif
interlaced.gif   convert             convert source.ppm -interlace GIF interlaced.gif
see-through.gif  convert             convert alpha.png see-through.gif
see-kept.gif     convert-alpha       cp see-through.gif see-kept.gif
offset.gif       convert             convert source.ppm -resize 20x10! -repage 45x29+7+5 offset.gif; convert 'offset.gif[0]' -background none -flatten -type TrueColorAlpha BMP:offset.gif.bmp
cut.gif          is_cut_short        head -c 900 still.gif >cut.gif
zero.gif         declares_a_width_or_height_of_0  cp still.gif zero.gif; poke zero.gif 6 '\000\000'; poke zero.gif $(($(bytes_at zero.gif '\x2c\x00\x00\x00\x00\x2d\x00\x1d\x00') + 5)) '\000\000'
huge.gif         65535_x_65535_pixels,_too_large  cp still.gif huge.gif; poke huge.gif 6 '\377\377\377\377'
none.tif         convert             convert source.ppm -compress None none.tif
lzw.tif          convert             convert source.ppm -compress LZW lzw.tif
deflate.tif      convert             convert source.ppm -compress Zip deflate.tif
jpeg.tif         convert             convert source.ppm -compress JPEG jpeg.tif
ycbcr-jpeg.tif   convert             tiffcp -c jpeg none.tif ycbcr-jpeg.tif
packbits.tif     convert             convert source.ppm -compress RLE packbits.tif
tiled.tif        convert             tiffcp -t -w 16 -l 16 lzw.tif tiled.tif
planar.tif       convert             convert source.ppm -interlace Plane -compress LZW planar.tif
cmyk.tif         convert             convert source.ppm -colorspace CMYK cmyk.tif
16bit.tif        convert16           convert source.ppm -depth 16 -gamma 1.3 -compress Zip 16bit.tif
palette.tif      convert16           convert source.ppm -depth 16 -gamma 1.3 -colors 64 -type Palette palette.tif
fax.tif          convert             convert source.ppm -monochrome -compress Group4 fax.tif
alpha.tif        convert             convert alpha.png alpha.tif
alpha-kept.tif   convert-alpha       cp alpha.tif alpha-kept.tif
associated.tif   convert-alpha       convert alpha.png -channel A -fx '(floor(u*127.5)*2+1)/255' +channel -define tiff:alpha=associated associated.tif
lab.tif          tiff2rgba           convert source.ppm -colorspace Lab lab.tif
turned.tif       convert             cp lzw.tif turned.tif; tiffset -s 274 6 turned.tif; convert lzw.tif -rotate 90 -alpha off -type TrueColor BMP3:turned.tif.bmp
lab-turned.tif   convert             cp lab.tif lab-turned.tif; tiffset -s 274 6 lab-turned.tif; convert lab.tif.bmp -rotate 90 -alpha off -type TrueColor BMP3:lab-turned.tif.bmp
cut.tif          is_cut_short        head -c 1500 lzw.tif >cut.tif
zero.tif         declares_no_width_or_height,_or_one_of_0  cp lzw.tif zero.tif; poke zero.tif $(($(bytes_at zero.tif '\x00\x01[\x03\x04]\x00\x01\x00\x00\x00\x2d\x00') + 8)) '\000\000'
huge.tif         65535_x_65535_pixels,_too_large  cp lzw.tif huge.tif; poke huge.tif $(($(bytes_at huge.tif '\x00\x01[\x03\x04]\x00\x01\x00\x00\x00\x2d\x00') + 8)) '\377\377'; poke huge.tif $(($(bytes_at huge.tif '\x01\x01[\x03\x04]\x00\x01\x00\x00\x00\x1d\x00') + 8)) '\377\377'
TABLE
# The words of a refusal stand with underscores for their spaces in the table.
sed -i 's/_/ /g' cases.txt

env DUOTINT_PICTURE_CORPUS="Z:$(printf '%s' "$corpus" | tr / '\\')" "$1" "$2" \
  --gtest_filter='LoadPicture.PictureCorpusGivesItsLibrarysToolPixelsOrItsRefusal' >run.txt 2>&1 || status=$?
cat run.txt
# A program that crashes under Wine may still end with 0: the case's own verdict is read too.
[ "${status:-0}" -eq 0 ] && grep -q '^\[  PASSED  \] 1 test' run.txt
