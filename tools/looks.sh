#!/usr/bin/env bash
# Makes the pictures of docs/looks.md, and the page itself, from tools/looks.list:
# samples/sunset.bmp in each look, written by duotint-cli as a JPEG into
# docs/looks/<name>.jpg, and a section per look with its line to copy. No picture
# is edited by hand; tools/package.sh runs this for each release, and the test
# unit.looks checks that what is checked in is what it makes.
#   bash tools/looks.sh [DOCS]   (DOCS: the folder to write into; docs/ by default)
# The programs are built first when anything changed, unless DUOTINT_PREBUILT is set.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${DUOTINT_BUILD:-$root/build}
docs=${1:-$root/docs}
. "$root/tools/programs.sh"
[ -n "${DUOTINT_PREBUILT:-}" ] || programs_build || { echo "looks: the build failed." >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$docs/looks"
# Small enough for a page of eight, fine enough to judge a look by.
options=(--format jpeg --quality 80 --force --quiet)
{
  cat <<'TEXT'
# Looks

Each picture is the sample picture, `samples/sunset.bmp`, written by `duotint-cli` in the
look named above it; the line under it gives that look to a folder of pictures. The
nine numbers are the editor's panel from the top: tint A (red, green, blue), how much
of it is mixed in (disp, per cent), how tint B weighs against tint A (distr, per cent),
tint B (red, green, blue) and how much of it is mixed in. Start the editor with one
(`duotint --tint ... PICTURE`) to tune it further.

The pictures are made by `tools/looks.sh` from the list in `tools/looks.list`; add a
look there and run it again.
TEXT
  while IFS='|' read -r name tint words; do
    [[ -z $name || $name == \#* ]] && continue
    file=${name// /-}.jpg
    # duotint-cli ends the shell it runs in, so each look runs in one of its own.
    (programs_cli --tint "$tint" "${options[@]}" --out "$work" "$root/samples/sunset.bmp") >&2
    mv "$work/sunset-.jpg" "$docs/looks/$file"
    printf '\n## %s\n\n%s.\n\n![%s](looks/%s)\n\n```sh\nduotint-cli --tint %s --format jpg photos\n```\n' \
      "${name^}" "${words^}" "$name" "$file" "$tint"
  done <"$root/tools/looks.list"
} >"$work/looks.md"
mv "$work/looks.md" "$docs/looks.md"
echo "looks: $docs/looks.md and $(ls "$docs/looks" | wc -l) pictures in $docs/looks" >&2
