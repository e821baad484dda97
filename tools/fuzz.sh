#!/usr/bin/env bash
# Builds the parsers' fuzz targets, and those of the PNG runs coder and the JPEG encoder, natively with
# clang's libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer into
# build-fuzz/, seeds each from tests/data and runs each for SECONDS (60). Fails when any target
# finds a crash; the input that did it is left in build-fuzz/<target>/.
# Usage: tools/fuzz.sh [SECONDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
out=$root/build-fuzz

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
apt_install() {
  echo "fuzz: installing $*"
  # Another job may hold the package lock; apt waits for it instead of failing.
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 update -qq
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 install -y -qq \
    --no-install-recommends "$@" >/dev/null
}
command -v clang++ >/dev/null || apt_install clang
# The libFuzzer runtime comes in a package of its own, named for clang's major version.
major=$(clang++ -dumpversion | cut -d. -f1)
runtime=libclang-rt-$major-dev
dpkg-query -W -f='${Status}' "$runtime" 2>/dev/null | grep -q 'install ok installed' || apt_install "$runtime"
# The metadata walk inflates and deflates PNG chunks with zlib; libjpeg
# decodes what our JPEG encoder writes; heif-enc and avifenc make the probe's HEIF seeds,
# cwebp and img2webp its WebP ones, tiffcp and jpegtran more TIFF and JPEG ones.
for package in zlib1g-dev libjpeg-dev libheif-examples libavif-bin webp libtiff-tools libjpeg-turbo-progs; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || apt_install "$package"
done

flags=(-fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -g -O1 -std=c++17 -I"$root/src")
declare -A sources=(
  [probe_fuzz]="$root/src/formats/probe.cpp $root/src/formats/metadata.cpp $root/src/formats/bmp_header.cpp $root/src/formats/byte_source.cpp $root/src/formats/container_walk.cpp"
  [bmp_header_fuzz]="$root/src/formats/bmp_header.cpp"
  [exif_fuzz]="$root/src/formats/probe.cpp $root/src/formats/metadata.cpp $root/src/formats/bmp_header.cpp $root/src/formats/byte_source.cpp $root/src/formats/container_walk.cpp"
  [metadata_fuzz]="$root/src/formats/metadata.cpp $root/src/formats/byte_source.cpp $root/src/formats/container_walk.cpp"
  [png_deflate_fuzz]="$root/src/formats/png_deflate.cpp"
  [jpeg_encode_fuzz]="$root/src/formats/jpeg_format.cpp $root/src/formats/jpeg_dct_avx2.cpp $root/src/formats/jpeg_tint_avx512.cpp $root/src/formats/tint.cpp"
)
targets=(probe_fuzz bmp_header_fuzz exif_fuzz metadata_fuzz png_deflate_fuzz jpeg_encode_fuzz)
for target in "${targets[@]}"; do
  mkdir -p "$out/$target/corpus"
  clang++ "${flags[@]}" "$root/tests/fuzz/$target.cpp" ${sources[$target]} -o "$out/$target/$target" -lz -ljpeg
done

# Seeds are copies: the fuzzer adds to its corpus folder, never to tests/data.
cp "$root"/tests/data/pictures/*.{png,gif,jpg,tif} "$root"/tests/data/bmpsuite/*/*.bmp "$out/probe_fuzz/corpus/"
# WebP seeds made here from the PNGs: lossy, lossless, with alpha (an extended header and
# ALPH), with a profile, EXIF and XMP (from the camera picture), and an animation of two frames.
corpus=$out/probe_fuzz/corpus
for picture in "$root"/tests/data/pictures/*.png; do
  name=$(basename "$picture" .png)
  cwebp -quiet "$picture" -o "$corpus/$name.webp" || true
  cwebp -quiet -lossless "$picture" -o "$corpus/$name-lossless.webp" || true
done
cwebp -quiet -metadata all "$root/tests/data/pictures/camera.jpg" -o "$corpus/camera.webp" || true
img2webp -loop 0 "$root/tests/data/pictures/alpha.png" -lossy "$root/tests/data/pictures/rgb16.png" \
  -o "$corpus/frames.webp" >/dev/null 2>&1 || true
# TIFF seeds beside the little-endian strips of rgb.tif: big-endian, tiled, deflate and
# PackBits; and a progressive JPEG.
tiffcp -B "$root/tests/data/pictures/rgb.tif" "$corpus/big-endian.tif" || true
tiffcp -t -w 16 -l 16 "$root/tests/data/pictures/rgb.tif" "$corpus/tiled.tif" || true
tiffcp -c zip "$root/tests/data/pictures/rgb.tif" "$corpus/deflate.tif" || true
tiffcp -c packbits "$root/tests/data/pictures/rgb.tif" "$corpus/packbits.tif" || true
jpegtran -progressive -outfile "$corpus/progressive.jpg" "$root/tests/data/pictures/camera.jpg" || true
# HEIC and AVIF seeds, with alpha, 10-bit and turned, made by heif-enc and avifenc.
for picture in "$root"/tests/data/pictures/{alpha,rgb16}.png; do
  name=$(basename "$picture" .png)
  heif-enc -q 50 "$picture" -o "$out/probe_fuzz/corpus/$name.heic" >/dev/null || true
  avifenc --irot 1 --imir 0 "$picture" "$out/probe_fuzz/corpus/$name.avif" >/dev/null || true
done
# Every kind the probe reads has seeds, or the run says which has none.
for ext in bmp png jpg gif tif webp heic avif; do
  compgen -G "$corpus/*.$ext" >/dev/null || { echo "fuzz: probe_fuzz has no .$ext seed"; exit 1; }
done
cp "$root"/tests/data/bmpsuite/*/*.bmp "$out/bmp_header_fuzz/corpus/"
cp "$root"/tests/data/pictures/*.jpg "$out/exif_fuzz/corpus/"
cp "$root"/tests/data/pictures/*.{png,jpg} "$out/metadata_fuzz/corpus/"
# The camera picture, with its EXIF and profile, as HEIC and AVIF, and with its XMP too as WebP.
heif-enc -q 50 "$root/tests/data/pictures/camera.jpg" -o "$out/metadata_fuzz/corpus/camera.heic" >/dev/null || true
avifenc "$root/tests/data/pictures/camera.jpg" "$out/metadata_fuzz/corpus/camera.avif" >/dev/null || true
cp "$corpus/camera.webp" "$out/metadata_fuzz/corpus/" || true
# The probe's TIFFs, and the camera picture as a TIFF whose profile and XMP convert carries and
# whose make, artist, EXIF and GPS directories exiftool writes, so that copying them into an
# EXIF block is fuzzed.
cp "$corpus"/*.tif "$out/metadata_fuzz/corpus/"
if command -v convert >/dev/null && command -v exiftool >/dev/null; then
  convert "$root/tests/data/pictures/camera.jpg" -define tiff:endian=msb "$out/metadata_fuzz/corpus/camera.tif" &&
    exiftool -q -overwrite_original -tagsfromfile "$root/tests/data/pictures/camera.jpg" -all:all \
      -GPSLatitude=48.8584 -GPSLatitudeRef=N "$out/metadata_fuzz/corpus/camera.tif" || true
fi
# A JPEG whose XMP packet names an extension of two parts, out of order, so that joining
# them is fuzzed from the first run.
if command -v python3 >/dev/null; then
  python3 - "$out/metadata_fuzz/corpus/extended.jpg" <<'PY'
import struct, sys
guid = b'0123456789ABCDEF0123456789ABCDEF'
rdf = b"<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
packet = (b"<x:xmpmeta xmlns:x='adobe:ns:meta/'>" + rdf + b"<rdf:Description rdf:about='' "
          b"xmlns:xmpNote='http://ns.adobe.com/xmp/note/' xmpNote:HasExtendedXMP='" + guid + b"'/></rdf:RDF></x:xmpmeta>")
whole = (b"<x:xmpmeta xmlns:x='adobe:ns:meta/'>" + rdf + b"<rdf:Description rdf:about='' "
         b"xmlns:exif='http://ns.adobe.com/exif/1.0/' exif:GPSLatitude='1'/></rdf:RDF></x:xmpmeta>")
def app1(body): return b'\xff\xe1' + struct.pack('>H', len(body) + 2) + body
def part(offset, data):
    return app1(b'http://ns.adobe.com/xmp/extension/\0' + guid + struct.pack('>II', len(whole), offset) + data)
half = len(whole) // 2
open(sys.argv[1], 'wb').write(b'\xff\xd8' + app1(b'http://ns.adobe.com/xap/1.0/\0' + packet) +
                              part(half, whole[half:]) + part(0, whole[:half]) + b'\xff\xda\0\2\xff\xd9')
PY
fi
cp "$root"/tests/data/pictures/*.{png,gif,tif} "$root"/tests/data/bmpsuite/g/*.bmp "$out/png_deflate_fuzz/corpus/"
# A leading byte other than 0xFF makes exif_fuzz wrap the rest as an EXIF
# block, which is a TIFF header and directory like the sample TIFF.
{ printf '\0'; cat "$root/tests/data/pictures/rgb.tif"; } >"$out/exif_fuzz/corpus/rgb.tif.exif"
# Sizes, qualities and samplings from the first bytes, pixels from a picture.
cp "$root"/tests/data/pictures/*.{png,jpg} "$out/jpeg_encode_fuzz/corpus/"

failed=()
for target in "${targets[@]}"; do
  log=$out/$target/run.log
  status=0
  # A unit may take 30 s before it counts as a hang: on a loaded machine the
  # sanitizers' own bookkeeping once stalled a 0.2 s input past 10 s.
  (cd "$out/$target" && "./$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
     -print_final_stats=1 -artifact_prefix="$out/$target/" corpus) >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  if [ "$status" -ne 0 ]; then
    failed+=("$target")
    echo "fuzz: $target FAILED after ${runs:-?} executions; see $log"
    grep -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error)' "$log" | head -n 5 || true
  else
    echo "fuzz: $target ran ${runs:-?} executions in ${seconds} s"
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: crashes in ${failed[*]}"
  exit 1
fi
