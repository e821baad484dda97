#!/bin/sh
# camera.jpg through duotint-cli to JPEG and to PNG, read back by exiftool: upright, at
# the output's size, with its camera, date and profile; none with --strip.
# Usage: exiftool_readback.sh WINE DUOTINT-CLI PICTURES-FOLDER (77: no exiftool)
set -eu
command -v exiftool >/dev/null || exit 77
wine=$1 cli=$2 pictures=$3
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
for format in jpeg png; do
  ext=$([ "$format" = jpeg ] && echo jpg || echo png)
  "$wine" "$cli" --tint 0,0,0,0,0,0,0,0,0 --format $format --out kept "$pictures/camera.jpg" >/dev/null
  "$wine" "$cli" --tint 0,0,0,0,0,0,0,0,0 --format $format --strip --out stripped "$pictures/camera.jpg" >/dev/null
  got=$(exiftool -s3 -Make -Model -DateTimeOriginal -ProfileDescription -Orientation# -ExifImageWidth \
          -ExifImageHeight -ImageWidth -ImageHeight kept/camera-.$ext | tr '\n' '|')
  want='Duotint Optical|DT-6 Mark II|2024:05:17 09:30:00|Duotint Test RGB|1|16|32|16|32|'
  [ "$got" = "$want" ] || { echo "$format kept: $got, not $want"; exit 1; }
  left=$(exiftool -s3 -EXIF:all -ICC_Profile:all -XMP:all stripped/camera-.$ext)
  [ -z "$left" ] || { echo "$format --strip left: $left"; exit 1; }
done
