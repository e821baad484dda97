#!/bin/sh
# docs/looks.md and its pictures are what tools/looks.sh makes of tools/looks.list, byte
# for byte: none is edited by hand, and a change to the encoder or a look shows here.
# Usage: looks_made.sh SOURCE-FOLDER BUILD-FOLDER
t=$(mktemp -d); trap 'rm -rf "$t"' EXIT
DUOTINT_PREBUILT=1 DUOTINT_BUILD=$2 bash "$1/tools/looks.sh" "$t" 2>"$t/log" || { cat "$t/log"; exit 1; }
diff -r "$1/docs/looks" "$t/looks" && cmp "$1/docs/looks.md" "$t/looks.md" ||
  { echo "docs/looks is not what bash tools/looks.sh makes: run it, and check in what it writes"; exit 1; }
