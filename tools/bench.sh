#!/usr/bin/env bash
# Builds duotint's benchmark and runs it under wine on a private Xvfb display
# of 1920x1080x24, in a scratch folder (it writes about 220 MB there).
#
#   bash tools/bench.sh [open|formats|cli]   one measurement, or the main one
#   bash tools/bench.sh --smoke              every measurement once, on small
#                                            pictures: fails on a crash or a
#                                            missing line, asserts no figure
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${DUOTINT_BUILD:-$root/build}
# vips, cjpeg and pngtopnm, the peers the processes are held against; the modes
# of a smoke run are built for once, before them.
if [ -z "${DUOTINT_BENCH_SMOKE:-}" ]; then
  "$root/tools/setup.sh" libvips-tools netpbm time >/dev/null
  "$root/tools/build.sh" >/dev/null
fi

if [ "${1:-}" = --smoke ] && [ -z "${DUOTINT_BENCH_SMOKE:-}" ]; then
  shift
  # Each mode in a run of its own, its lines kept; every line below must be
  # there at least once. The lines of native tools that are not installed
  # are not looked for.
  failed=0
  check() {
    local mode=$1 out=$2
    shift 2
    for pattern in "$@"; do
      grep -Eq -- "$pattern" "$out" || { echo "bench --smoke $mode: no line matches '$pattern'" >&2; failed=1; }
    done
  }
  out=$(mktemp)
  trap 'rm -f "$out"' EXIT
  for mode in main formats open cli; do
    args=()
    [ "$mode" = main ] || args+=("$mode")
    if ! DUOTINT_BENCH_SMOKE=1 bash "$0" "${args[@]}" "$@" >"$out"; then
      echo "bench --smoke $mode: the run failed" >&2
      failed=1
    fi
    cat "$out"
    case $mode in
      main) check main "$out" '^desktop ' '^copy: ' '^re-render by way of .*program' '^memory: ' '^tint pass' \
              '^re-render .*shown' '^header and load / CopyFileA' '^export / CopyFileA' '^open, Enter to editor' \
              '^refusal of a short file ' '^peak working set' 'ms png with the decoding child' 'ms jpeg with the decoding child' ;;
      formats) check formats "$out" 'ms png with the decoding child' 'ms jpeg with the decoding child'
        # Each kind's line where ImageMagick and the kind's coder and tool are here.
        for kind in "png pngtopnm" "jpeg djpeg" "webp cwebp dwebp" "heic heif-enc heif-convert" "avif heif-enc heif-convert" \
                    "tiff tiffcp"; do
          read -r -a need <<<"$kind convert"
          here=1
          for tool in "${need[@]:1}"; do command -v "$tool" >/dev/null || here=0; done
          if [ $here = 1 ]; then check formats "$out" "^decode ${need[0]} .* process / tool "; fi
        done ;;
      open) check open "$out" '^open, Enter to editor / CopyFileA' '^open a JPEG photo' '^open a PNG photo'
        if command -v djpeg >/dev/null; then check open "$out" '^open   JPEG photo: djpeg'; fi
        if command -v pngtopnm >/dev/null; then check open "$out" '^open   PNG photo: pngtopnm'; fi ;;
      cli)
        check cli "$out" '^cli .* pictures of .* BMP to BMP' '^cli .* --jobs 2 / --jobs 1' "own start" \
              'JPEG to jpeg: ' 'JPEG to png: ' 'our PNG encoder in-process' 'JPEG to PNG: ours' \
              '^jpeg   our encoder in-process' '^whole  duotint-cli to PNG' '^start  tools/cli.sh --version'
        if command -v cjpeg >/dev/null; then check cli "$out" '^jpeg   cjpeg ' '^jpeg   file at quality 92' '^cpu    ' '^faults '; fi
        if command -v cjpeg >/dev/null && command -v exiftool >/dev/null; then check cli "$out" '^jpeg   sizes '; fi
        if command -v vips >/dev/null; then check cli "$out" '^whole  vips copy' '^whole  duotint-cli to JPEG' '^batch  3 photos'; fi
        if command -v identify >/dev/null; then check cli "$out" '^jpeg   --quality asked' '^gif    '; fi
        if command -v tiff2rgba >/dev/null; then check cli "$out" '^tiff   '; fi ;;
    esac
  done
  exit "$failed"
fi
smoke=
rounds=(1 2 3)
if [ -n "${DUOTINT_BENCH_SMOKE:-}" ]; then
  # One mode of the smoke run above.
  smoke=--smoke
  rounds=(1)
fi

# Xvfb takes a free display number itself and writes it once it is ready,
# as in tools/test.sh.
number=$(mktemp)
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$number" >/dev/null 2>&1 &
xvfb=$!
work=$(mktemp -d "${TMPDIR:-/tmp}/duotint-bench.XXXXXX")
export WINEPREFIX="$build/wineprefix"
scratch=
cleanup() {
  WINEPREFIX="$WINEPREFIX" wineserver -k 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  rm -rf "$work" "$number" ${scratch:+"$scratch"}
}
trap cleanup EXIT
for _ in $(seq 100); do
  [ -s "$number" ] && break
  sleep 0.05
done
display=":$(head -n 1 "$number")"
export DUOTINT_EXE="$build/duotint.exe" DISPLAY=$display WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# One Wine server and its services for the whole run, started here holding
# no output of the run's: otherwise a round after a few quiet seconds pays
# for starting them again (about a second), which is Wine's, not duotint's.
wineserver -p >/dev/null 2>&1 </dev/null
wine cmd /c exit >/dev/null 2>&1 </dev/null || true
cd "$work"
# "open": the open latency alone; "formats": PNG and JPEG, then below each
# kind against its library's own tool; "cli": duotint-cli
wine "$build/bench/bench.exe" $smoke "$@"
# The editor opening a photo against djpeg decoding it alone (native, to
# a BMP, as the editor decodes it), three rounds.
if [ "${1:-}" = open ] && command -v djpeg >/dev/null && [ -f open-jpeg-ms.txt ]; then
  dj=()
  for _ in "${rounds[@]}"; do
    t0=$(date +%s%N)
    djpeg -bmp -outfile photo.bmp photo.jpg
    dj+=($((($(date +%s%N) - t0) / 1000000)))
  done
  best=$(printf '%s\n' "${dj[@]}" | sort -g | head -n 1)
  echo "open   JPEG photo: djpeg alone ${dj[*]} ms; Enter to editor / djpeg (its best)" \
       "$(awk -v a="$(cat open-jpeg-ms.txt)" -v b="$best" 'BEGIN { printf "%.2f", a / (b > 0 ? b : 1) }') x (at most 2)"
fi
spread() { tr ' ' '\n' | sort -g | awk '{ v[NR] = $1 } END { printf "%s (%s to %s)", v[int((NR + 1) / 2)], v[1], v[NR] }'; }
# A failed command is named, and fails the run once every line is out; ms
# runs in a subshell, so the failures are counted in a file.
ms() {
  local t0 code=0
  t0=$(date +%s%N)
  "$@" >"$work/ms.err" 2>&1 || code=$?
  if [ $code -ne 0 ]; then
    # What the command said goes with its failure.
    echo "bench: failed (exit $code): $*" >&2
    tr -d '\r' <"$work/ms.err" | tail -n 3 >&2
    echo "$*" >>"$work/failed"
  fi
  echo $((($(date +%s%N) - t0) / 1000000))
}
# The editor opening the same photo as a PNG (our encoder's, default level)
# against pngtopnm decoding it alone to a PPM, three rounds. pngtopnm reads
# with libpng: Debian has no program that reads with libspng.
if [ "${1:-}" = open ] && command -v pngtopnm >/dev/null && [ -f open-png-ms.txt ]; then
  pn=() pn_ratio=()
  for _ in "${rounds[@]}"; do
    t0=$(date +%s%N)
    pngtopnm photo.png >photo.ppm
    pn+=($((($(date +%s%N) - t0) / 1000000)))
    pn_ratio+=("$(awk -v a="$(cat open-png-ms.txt)" -v b="${pn[-1]}" 'BEGIN { printf "%.2f", a / (b > 0 ? b : 1) }')")
  done
  echo "open   PNG photo: pngtopnm alone $(echo "${pn[*]}" | spread) ms; Enter to editor / pngtopnm" \
       "$(echo "${pn_ratio[*]}" | spread) x"
fi
# Each kind the decoding process reads with a library (a GIF has its line in
# the cli mode), against that library's own Debian tool decoding the same
# file: a photo-like 6000 x 4000 picture (600 x 400 in a smoke run), a plasma
# under a grain, made by ImageMagick and coded by Debian's coders (x265 at
# its quickest preset and aom at its quickest speed, so that making them
# stays quick). bench.exe decodes every file through a process started and
# ready before each picture, as behind the name popup, from the probe to the
# last row in the section. Each tool writes where writing costs least:
# /dev/null, or a tmpfs where it must seek; heif-convert writes Y4M, the
# decoded planes as they are, where the process converts them to RGB. Three
# rounds, each ratio within its round; a kind whose coder or tool is missing
# is said so and left out.
if [ "${1:-}" = formats ]; then
  size=6000x4000
  [ -z "$smoke" ] || size=600x400
  scratch=$(mktemp -d /dev/shm/duotint-bench.XXXXXX 2>/dev/null || mktemp -d "$work/scratch.XXXXXX")
  ln -s /dev/null null.y4m
  kinds=() files=()
  want() {
    local kind=$1 file=$2
    shift 2
    for tool in "$@"; do
      command -v "$tool" >/dev/null || { echo "decode $kind: no $tool here; left out"; return 1; }
    done
    kinds+=("$kind") files+=("$file")
  }
  if command -v convert >/dev/null; then
    # The plasma is drawn at a quarter of the size a side, which is a
    # quarter of the time, then grown.
    w=${size%x*} h=${size#*x}
    convert -seed 7 -size "$((w / 4))x$((h / 4))" plasma:fractal -resize "$size!" \
      -attenuate 0.3 +noise Gaussian -depth 8 big.png
    want png big.png pngtopnm
    want jpeg big.jpg djpeg && convert big.png -quality 92 big.jpg
    want webp big.webp cwebp dwebp && cwebp -quiet big.png -o big.webp
    want heic big.heic heif-enc heif-convert && heif-enc -p preset=ultrafast big.png -o big.heic >/dev/null
    want avif big.avif heif-enc heif-convert && heif-enc -A -p speed=9 big.png -o big.avif >/dev/null
    want tiff big.tif tiffcp && convert big.png -compress LZW big.tif
  else
    echo "decode: no ImageMagick convert here to make the pictures; every kind left out"
  fi
  native() {
    case $1 in
      png) pngtopnm big.png ;;
      jpeg) djpeg -bmp -outfile /dev/null big.jpg ;;
      webp) dwebp -ppm big.webp -o /dev/null ;;
      heic | avif) heif-convert --quiet "big.$1" null.y4m ;;
      tiff) tiffcp -c none big.tif "$scratch/big.tif" ;;
    esac
  }
  declare -A label=([png]="pngtopnm to /dev/null" [jpeg]="djpeg -bmp to /dev/null" [webp]="dwebp -ppm to /dev/null"
                    [heic]="heif-convert to Y4M on /dev/null" [avif]="heif-convert to Y4M on /dev/null"
                    [tiff]="tiffcp -c none to a tmpfs")
  declare -A ours=() theirs=() ratios=()
  for _ in "${rounds[@]}"; do
    [ ${#files[@]} -gt 0 ] || break
    # A line a file, "decode NAME MS WIDTH HEIGHT", ending CR LF under Wine.
    if ! decoded=$(wine "$build/bench/bench.exe" decode "${files[@]}" | tr -d '\r'); then
      echo "bench: failed: bench.exe decode ${files[*]}" >&2
      echo "bench.exe decode" >>"$work/failed"
    fi
    for i in "${!kinds[@]}"; do
      kind=${kinds[$i]}
      o=$(echo "$decoded" | awk -v f="${files[$i]}" '$1 == "decode" && $2 == f { print $3 }')
      [ -n "$o" ] || continue
      t=$(ms native "$kind")
      ours[$kind]+="$o " theirs[$kind]+="$t "
      ratios[$kind]+="$(awk -v a="$o" -v b="$t" 'BEGIN { printf "%.2f", a / (b > 0 ? b : 1) }') "
    done
  done
  for i in "${!kinds[@]}"; do
    kind=${kinds[$i]}
    if [ -z "${ours[$kind]:-}" ]; then
      echo "decode $kind: the decoding process gave no time"
      continue
    fi
    printf 'decode %-4s %s, %s bytes: the decoding process %s ms; %s %s ms; process / tool %s x (at most 1.3)\n' \
      "$kind" "${size/x/ x }" "$(stat -c %s "${files[$i]}")" "$(echo ${ours[$kind]} | spread)" "${label[$kind]}" \
      "$(echo ${theirs[$kind]} | spread)" "$(echo ${ratios[$kind]} | spread)"
  done
fi
[ "${1:-}" = cli ] || { test ! -s "$work/failed"; exit $?; }

# Whole processes on the bench's 6000 x 4000 JPEG, as a person runs them
# here: duotint-cli under Wine to PNG and to BMP, and libvips's own program
# (native, when installed) to PNG at its default level, on one core. Three
# rounds; each ratio is taken within its round.
cli=("$build/duotint-cli.exe" --tint 250,120,30,45,35,20,90,240,60 --force)
png=() bmp=() vips=() png_bmp=() png_vips=()
for _ in "${rounds[@]}"; do
  p=$(ms wine "${cli[@]}" --format png big.jpg)
  b=$(ms wine "${cli[@]}" --format bmp big.jpg)
  png+=("$p") bmp+=("$b")
  png_bmp+=("$(awk -v a="$p" -v b="$b" 'BEGIN { printf "%.2f", a / b }')")
  if command -v vips >/dev/null; then
    v=$(ms vips copy big.jpg vips.png)
    vips+=("$v")
    png_vips+=("$(awk -v a="$p" -v b="$v" 'BEGIN { printf "%.2f", a / b }')")
  fi
done
echo "whole  duotint-cli to PNG ${png[*]} ms: $(echo "${png[*]}" | spread); to BMP: $(echo "${bmp[*]}" | spread);" \
     "PNG / BMP $(echo "${png_bmp[*]}" | spread) x (at most 2)"
[ ${#vips[@]} -gt 0 ] && echo "whole  vips copy big.jpg out.png: $(echo "${vips[*]}" | spread) ms;" \
     "duotint-cli to PNG / vips $(echo "${png_vips[*]}" | spread) x (at most 1)"

# JPEG: duotint-cli's whole process to JPEG at quality 92 against vips's
# (`vips linear`, the same kind of per-pixel job, native) on big.jpg; our
# encoder alone (bench.exe measured it in-process, ours-ms.txt) against
# cjpeg (libjpeg-turbo, one process) on the same tinted pixels and
# settings; the files' sizes; and the quality each --quality reads back as.
if command -v cjpeg >/dev/null && [ -f big-tinted.ppm ]; then
  cj=() cj_ratio=()
  ours=$(cat ours-ms.txt)
  for _ in "${rounds[@]}"; do
    c=$(ms cjpeg -quality 92 -sample 1x1 -outfile cjpeg.jpg big-tinted.ppm)
    cj+=("$c")
    cj_ratio+=("$(awk -v a="$ours" -v b="$c" 'BEGIN { printf "%.2f", a / b }')")
  done
  echo "jpeg   cjpeg -quality 92 -sample 1x1 on the same pixels: $(echo "${cj[*]}" | spread) ms;" \
       "ours in-process / cjpeg $(echo "${cj_ratio[*]}" | spread) x (at most 1)"
  echo "jpeg   file at quality 92: ours $(stat -c %s ours.jpg) bytes, cjpeg's $(stat -c %s cjpeg.jpg):" \
       "$(awk -v a="$(stat -c %s ours.jpg)" -v b="$(stat -c %s cjpeg.jpg)" 'BEGIN { printf "%.3f", a / b }') x (at most 1.10)"

  # Sizes against cjpeg -optimize at quality 85 (4:2:0) on the same pixels,
  # through duotint-cli's identity look: a picture of noise but for 64 flat
  # rows in every 256 from row 128, the rows of the strips our tables are
  # first fitted to, and the photo at 64 x 42. Ours without the XMP packet
  # that records the look, which cjpeg has no counterpart of (exiftool,
  # which tools/setup.sh installs, takes it out).
  if command -v exiftool >/dev/null; then
    dw=3000 dh=2000
    [ -z "$smoke" ] || { dw=300 dh=200; }
    flat=()
    for ((y = 128; y < dh; y += 256)); do flat+=(-draw "rectangle 0,$y $((dw - 1)),$((y + 63))"); done
    convert -size ${dw}x$dh xc:gray50 +noise Random -fill gray50 "${flat[@]}" -depth 8 detail.ppm
    convert big.jpg -resize '64x42!' -depth 8 tiny.ppm
    sizes=()
    for p in detail tiny; do
      convert $p.ppm BMP3:$p.bmp
      ms wine "$build/duotint-cli.exe" --tint 0,0,0,0,0,0,0,0,50 --force --format jpeg --quality 85 --chroma 420 \
        --out sizes $p.bmp >/dev/null
      rm -f $p-bare.jpg
      exiftool -q -xmp:all= -o $p-bare.jpg sizes/$p-.jpg
      cjpeg -quality 85 -sample 2x2 -optimize -outfile $p-cjpeg.jpg $p.ppm
      a=$(stat -c %s $p-bare.jpg) b=$(stat -c %s $p-cjpeg.jpg)
      sizes+=("$a bytes against $b: $(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.3f", a / b }') x")
    done
    echo "jpeg   sizes against cjpeg -optimize at quality 85: $dw x $dh, flat where our first counts look," \
         "${sizes[0]}; the photo at 64 x 42, ${sizes[1]} (at most 1.05)"
  fi

  # The whole process's work, as /usr/bin/time counts it: duotint-cli from
  # the picture as a BMP to JPEG at quality 92, its CPU (user + system)
  # against cjpeg's on the same tinted pixels and its page faults against
  # its own BMP to BMP. Five rounds, as a process's CPU moves from round to
  # round more than its time does; each ratio is taken within its round.
  if [ -x /usr/bin/time ]; then
    cpu_rounds=(1 2 3 4 5)
    [ -z "$smoke" ] || cpu_rounds=(1)
    djpeg -bmp -outfile big.bmp big.jpg
    usage() {  # label command...: "CPU-seconds faults user-seconds system-seconds"
      local label=$1
      shift
      /usr/bin/time -o "$label.time" -f '%U %S %R' "$@" >/dev/null 2>&1 ||
        { echo "bench: failed: $*" >&2; echo "$*" >>"$work/failed"; }
      awk '{ printf "%.2f %d %.2f %.2f\n", $1 + $2, $3, $1, $2 }' "$label.time"
    }
    cpu=() cjcpu=() faults=() bmpfaults=() cpu_ratio=() fault_ratio=() user=() system=()
    for _ in "${cpu_rounds[@]}"; do
      read -r c f u s < <(usage jpeg wine "${cli[@]}" --format jpeg --quality 92 --out cpu big.bmp)
      user+=("$u") system+=("$s")
      read -r _ b _ < <(usage bmp wine "${cli[@]}" --format bmp --out cpu big.bmp)
      read -r j _ < <(usage cjpeg cjpeg -quality 92 -sample 1x1 -outfile cjpeg.jpg big-tinted.ppm)
      cpu+=("$c") cjcpu+=("$j") faults+=("$f") bmpfaults+=("$b")
      cpu_ratio+=("$(awk -v a="$c" -v b="$j" 'BEGIN { printf "%.2f", a / (b > 0 ? b : 0.01) }')")
      fault_ratio+=("$(awk -v a="$f" -v b="$b" 'BEGIN { printf "%.2f", a / (b > 0 ? b : 1) }')")
    done
    echo "cpu    duotint-cli $(identify -format '%w x %h' big.jpg) BMP to JPEG at quality 92: user + system" \
         "$(echo "${cpu[*]}" | spread) s (user $(echo "${user[*]}" | spread), system $(echo "${system[*]}" | spread));" \
         "cjpeg -quality 92 -sample 1x1 $(echo "${cjcpu[*]}" | spread) s;" \
         "$(echo "${cpu_ratio[*]}" | spread) x (at most 2)"
    echo "faults duotint-cli BMP to JPEG $(echo "${faults[*]}" | spread); BMP to BMP $(echo "${bmpfaults[*]}" | spread);" \
         "$(echo "${fault_ratio[*]}" | spread) x (at most 1.5)"
  fi
fi
if command -v vips >/dev/null; then
  dj=() vj=() dj_vj=()
  for _ in "${rounds[@]}"; do
    d=$(ms wine "${cli[@]}" --format jpeg --quality 92 big.jpg)
    v=$(ms vips linear big.jpg 'vips.jpg[Q=92]' 1 0 --uchar)
    dj+=("$d") vj+=("$v")
    dj_vj+=("$(awk -v a="$d" -v b="$v" 'BEGIN { printf "%.2f", a / b }')")
  done
  echo "whole  duotint-cli to JPEG ${dj[*]} ms; vips linear to JPEG ${vj[*]} ms;" \
       "duotint-cli / vips $(echo "${dj_vj[*]}" | spread) x (at most 1)"

  # A library: a folder of 30 photos of 4000 x 3000 (3 in a smoke run, of
  # the small picture's size), duotint-cli on the folder against vips
  # linear on each photo, two at a time through xargs, so both use both cores.
  photos=30
  [ -z "$smoke" ] || photos=3
  rm -rf batch batch-ours batch-vips
  mkdir batch batch-vips
  vips resize big.jpg batch/photo-00.jpg 0.6667 >/dev/null
  for ((i = 1; i < photos; i++)); do cp batch/photo-00.jpg "batch/photo-$(printf %02d $i).jpg"; done
  ob=() vb=() ob_vb=()
  for _ in "${rounds[@]}"; do
    o=$(ms wine "${cli[@]}" --format jpeg --quality 92 --quiet --out batch-ours batch)
    v=$(ms sh -c 'ls batch/*.jpg | xargs -P2 -I{} sh -c '"'"'vips linear "$1" "batch-vips/$(basename "$1")[Q=92]" 1 0 --uchar'"'"' _ {}')
    ob+=("$o") vb+=("$v")
    ob_vb+=("$(awk -v a="$o" -v b="$v" 'BEGIN { printf "%.2f", a / b }')")
  done
  echo "batch  $photos photos to JPEG: duotint-cli $(echo "${ob[*]}" | spread) ms; vips linear, xargs -P2," \
       "$(echo "${vb[*]}" | spread) ms; duotint-cli / vips $(echo "${ob_vb[*]}" | spread) x (at most 1)"
fi
# TIFF: duotint-cli's whole process on big.jpg's pixels as an LZW TIFF, to
# BMP, against tiff2rgba (libtiff's own tool, native) decoding the same file
# and writing it uncompressed; the ratio is of the medians.
ratio() { awk -v a="$(echo "$1" | spread | cut -d' ' -f1)" -v b="$(echo "$2" | spread | cut -d' ' -f1)" \
            'BEGIN { printf "%.2f", a / (b > 0 ? b : 1) }'; }
if command -v tiff2rgba >/dev/null && command -v convert >/dev/null; then
  convert big.jpg -compress LZW big.tif
  tt=() tr=()
  for _ in "${rounds[@]}"; do tt+=("$(ms wine "${cli[@]}" --format bmp big.tif)"); done
  for _ in "${rounds[@]}"; do tr+=("$(ms tiff2rgba -c none -n big.tif rgba.tif)"); done
  echo "tiff   duotint-cli $(identify -format '%w x %h' big.tif) LZW TIFF to BMP $(echo "${tt[*]}" | spread) ms;" \
       "tiff2rgba -c none $(echo "${tr[*]}" | spread) ms; ratio of medians $(ratio "${tt[*]}" "${tr[*]}") x"
fi
# GIF: a 500-frame animation (10 in a smoke run) of 640 x 480 frames, whose
# first frame alone is decoded: duotint-cli to BMP against ImageMagick's
# convert taking frame [0] to BMP (native).
if command -v convert >/dev/null; then
  frames=500
  [ -z "$smoke" ] || frames=10
  convert big.jpg -resize 640x480! -colors 256 frame.gif
  convert frame.gif -duplicate $((frames - 1)) -set delay 4 anim.gif
  gt=() gc=()
  for _ in "${rounds[@]}"; do gt+=("$(ms wine "${cli[@]}" --format bmp anim.gif)"); done
  for _ in "${rounds[@]}"; do gc+=("$(ms convert 'anim.gif[0]' anim-first.bmp)"); done
  echo "gif    duotint-cli on a $frames-frame GIF ($(stat -c %s anim.gif) bytes) to BMP $(echo "${gt[*]}" | spread) ms;" \
       "convert 'anim.gif[0]' to BMP $(echo "${gc[*]}" | spread) ms; ratio of medians $(ratio "${gt[*]}" "${gc[*]}") x"
fi
# Starting duotint-cli through tools/cli.sh with nothing to build, against
# wine starting it directly: five rounds, alternating, after one that may
# write the build's stamp (one round in a smoke run).
DUOTINT_BUILD="$build" bash "$root/tools/cli.sh" --version >/dev/null 2>&1 || true
starts=(1 2 3 4 5)
[ -z "$smoke" ] || starts=(1)
sc=() wc=()
for _ in "${starts[@]}"; do
  sc+=("$(DUOTINT_BUILD="$build" ms bash "$root/tools/cli.sh" --version)")
  wc+=("$(ms wine "$build/duotint-cli.exe" --version)")
done
echo "start  tools/cli.sh --version $(echo "${sc[*]}" | spread) ms; wine duotint-cli.exe --version" \
     "$(echo "${wc[*]}" | spread) ms; ratio of medians" \
     "$(awk -v a="$(echo "${sc[*]}" | spread | cut -d' ' -f1)" -v b="$(echo "${wc[*]}" | spread | cut -d' ' -f1)" \
        'BEGIN { printf "%.2f", a / (b > 0 ? b : 1) }') x (at most 1.5)"
if command -v identify >/dev/null; then
  read_back=()
  for q in 30 76 92 100; do
    wine "${cli[@]}" --format jpeg --quality "$q" --out "q$q" big.jpg >/dev/null 2>&1
    read_back+=("$q:$(identify -format '%Q' "q$q/big-.jpg" 2>/dev/null)")
  done
  echo "jpeg   --quality asked:read back by identify ${read_back[*]}"
fi
[ ! -s "$work/failed" ]
