#!/bin/sh
# camera.jpg, and HEIC, AVIF, WebP and TIFF made of it, through duotint-cli to JPEG and to PNG,
# read back by exiftool: upright (a WebP shown as stored, its orientation kept), at the
# output's size, with its camera, date, profile and XMP creator;
# none with --strip; each with the record of its look (an XMP property, a PNG text
# chunk), with --strip too. Then the unit tests' hostile GPS layouts (gps0 to gps8
# little-endian, gps9 to gps17 the same big-endian) with --strip gps: exiftool reads no
# position and the coordinate's bytes are nowhere, while the make, artist and date stay
# (the artist but where it shares the latitude's bytes, which a note says); so do the
# TIFF's, whose GPS directory is copied into its EXIF. Then a PNG
# whose XMP is over one JPEG segment and whose EXIF is too large for one: exiftool reads
# the whole packet back from the JPEG, and a note says the EXIF was left out. Then a
# JPEG whose XMP extension holds a property: it reaches the JPEG and PNG outputs,
# without the position beside it.
# Usage: exiftool_readback.sh WINE DUOTINT-CLI PICTURES-FOLDER UNIT_TESTS (77: no exiftool,
# heif-enc, avifenc, cwebp or convert)
set -eu
for tool in exiftool heif-enc avifenc cwebp convert; do
  command -v $tool >/dev/null || exit 77
done
wine=$1 cli=$2 pictures=$3 unit=$4
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
# camera.jpg as HEIC, whose EXIF orientation heif-enc keeps as EXIF only, so
# it shows as stored, and as AVIF, which avifenc turns by its own rotation.
heif-enc -q 90 -o camera.heic "$pictures/camera.jpg" >/dev/null
avifenc "$pictures/camera.jpg" camera.avif >/dev/null
cwebp -quiet -metadata all "$pictures/camera.jpg" -o camera.webp
# A big-endian TIFF turned by its own Orientation, with convert's profile and XMP, and the
# make, artist, date and position in its first, EXIF and GPS directories by exiftool.
convert "$pictures/camera.jpg" -define tiff:endian=msb camera.tif
exiftool -q -overwrite_original -tagsfromfile "$pictures/camera.jpg" -all:all -XMP-tiff:Make='Duotint Optical' \
  -GPSLatitude=48.8584 -GPSLatitudeRef=N -GPSLongitude=2.2945 -GPSLongitudeRef=E camera.tif
for picture in "$pictures/camera.jpg" camera.heic camera.avif camera.webp camera.tif; do
  kind=${picture##*.}
  for format in jpeg png; do
    ext=$([ "$format" = jpeg ] && echo jpg || echo png)
    "$wine" "$cli" --tint 0,0,0,0,0,0,0,0,0 --format $format --out kept-$kind "$picture" >/dev/null
    "$wine" "$cli" --tint 0,0,0,0,0,0,0,0,0 --format $format --strip --out stripped-$kind "$picture" >/dev/null
    got=$(exiftool -s3 -Make -Model -DateTimeOriginal -ProfileDescription -Orientation# -ExifImageWidth \
            -ExifImageHeight -ImageWidth -ImageHeight -XMP:Creator kept-$kind/camera-.$ext | tr '\n' '|')
    want='Duotint Optical|DT-6 Mark II|2024:05:17 09:30:00|Duotint Test RGB|1|16|32|16|32|Ada Photographer|'
    [ "$kind" = heic ] && want='Duotint Optical|DT-6 Mark II|2024:05:17 09:30:00|Duotint Test RGB|1|32|16|32|16|Ada Photographer|'
    [ "$kind" = webp ] && want='Duotint Optical|DT-6 Mark II|2024:05:17 09:30:00|Duotint Test RGB|6|32|16|32|16|Ada Photographer|'
    [ "$got" = "$want" ] || { echo "$kind to $format kept: $got, not $want"; exit 1; }
    left=$(exiftool -s3 -EXIF:all -ICC_Profile:all -XMP:all --XMP-duotint:all stripped-$kind/camera-.$ext)
    [ -z "$left" ] || { echo "$kind to $format --strip left: $left"; exit 1; }
    words="--tint 0,0,0,0,0,0,0,0,0 --format $format $([ $format = jpeg ] && echo '--quality 92 --chroma 444' || echo '--png-level 6')"
    for look in "kept-$kind:$words" "stripped-$kind:$words --strip"; do
      got=$(exiftool -s3 -XMP-duotint:Look -PNG:DuotintLook "${look%%:*}/camera-.$ext")
      [ "$got" = "${look#*:}" ] || { echo "$kind to $format ${look%%:*} records '$got', not '${look#*:}'"; exit 1; }
    done
  done
done

mkdir hostile
env "DUOTINT_GPS_KEEP=Z:$(printf '%s' "$dir/hostile" | tr / '\\')" "$wine" "$unit" \
  --gtest_filter='Metadata.StripGpsLeavesNoPositionInAnyLayout:Metadata.XmpOverOneSegmentGoesOutAsAnExtension:Metadata.ExtendedXmpIsJoinedToItsPacket' \
  >run.txt 2>&1 || { cat run.txt; exit 1; }
grep -q '^\[  PASSED  \] 3 tests' run.txt || { cat run.txt; exit 1; }
for format in jpeg png; do
  "$wine" "$cli" --tint 0,0,0,0,0,0,0,0,0 --format $format --strip gps --out gps hostile/gps*.jpg camera.tif >/dev/null 2>notes.txt
  for file in gps/*; do
    name=$(basename "$file")
    # The record says --strip gps, and names no position.
    position=$(exiftool -a -s -G1 --XMP-duotint:Look --PNG:DuotintLook "$file" | grep -v '^\[System\]' | grep -i -E 'gps|latitude|longitude|altitude' || true)
    [ -z "$position" ] || { echo "$format $name: exiftool reads $position"; exit 1; }
    LC_ALL=C grep -q -a -F -e 'N48.8584' -e 'E02.2945' "$file" && { echo "$format $name holds the position's bytes"; exit 1; }
    got=$(exiftool -s3 -IFD0:Make -IFD0:Artist -ExifIFD:DateTimeOriginal -XMP-tiff:Make "$file" | tr '\n' '|')
    case $name in
      gps7-* | gps16-*) want='Duotint Optical|2024:05:17 09:30:00|Duotint Optical|' ;;  # the artist was the latitude
      gps8-* | gps17-*) want='Duotint Optical|' ;;  # EXIF that cannot be walked with certainty goes whole
      *) want='Duotint Optical|Ada Photographer|2024:05:17 09:30:00|Duotint Optical|' ;;
    esac
    [ "$got" = "$want" ] || { echo "$format $name: $got, not $want"; exit 1; }
  done
  grep -q '^note: .*gps7\.jpg: its EXIF Artist shares bytes with its GPS data' notes.txt &&
    grep -q '^note: .*gps8\.jpg: its EXIF cannot be walked with certainty' notes.txt ||
    { echo "$format: the notes are not as said:"; cat notes.txt; exit 1; }
  rm -rf gps
done

"$wine" "$cli" --tint 0,0,0,0,0,0,0,0,0 --format jpeg --out large hostile/large.png >/dev/null 2>notes.txt
grep -q '^note: .*large\.png: its EXIF ([0-9]* KB) does not fit a JPEG segment and is left out' notes.txt ||
  { echo "no note of the EXIF left out:"; cat notes.txt; exit 1; }
got=$(exiftool -s3 -XMP-dc:Description large/large-.jpg | wc -w)
[ "$got" = 20001 ] || { echo "exiftool reads $got words of the description back, not 20001"; exit 1; }

# A JPEG whose XMP has an extension, its parts in reverse order: the property that lives only
# in the extension reaches both outputs, whose position --strip gps takes from the whole.
for format in jpeg png; do
  "$wine" "$cli" --tint 0,0,0,0,0,0,0,0,0 --format $format --strip gps --out extended hostile/extended.jpg \
    >/dev/null 2>notes.txt
  file=$(ls extended/extended-.*)
  got=$(exiftool -s3 -XMP-dc:Source -XMP-tiff:Make -XMP-exif:GPSLatitude "$file" | tr '\n' '|')
  [ "$got" = 'only in the extension|Duotint Optical|' ] && [ ! -s notes.txt ] ||
    { echo "$format: exiftool reads $got from $file"; cat notes.txt; exit 1; }
  rm -rf extended
done
exit 0
