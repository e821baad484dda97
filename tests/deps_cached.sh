#!/bin/sh
# A second run of tools/deps.sh, once the build has run it, takes the cached
# build: it prints the prefix the build was configured with, and fetches and
# builds nothing (it says nothing). Skipped (77) when the build was given a
# prefix of its own in DUOTINT_DEPS.
# Usage: deps_cached.sh SOURCE_FOLDER CONFIGURED_PREFIX
cache=${XDG_CACHE_HOME:-$HOME/.cache}/duotint-deps
case $2 in
  "$cache"/*) ;;
  *) echo "the build's libraries are not in the cache ($2): skipped"; exit 77 ;;
esac
said=$(mktemp)
trap 'rm -f "$said"' EXIT
prefix=$(env -u DUOTINT_DEPS bash "$1/tools/deps.sh" 2>"$said") || { cat "$said"; exit 1; }
[ "$prefix" = "$2" ] || { echo "deps.sh gave $prefix, not the build's $2"; exit 1; }
[ ! -s "$said" ] || { echo "deps.sh did work on a second run:"; cat "$said"; exit 1; }
echo "deps.sh took the cached build in $prefix"
