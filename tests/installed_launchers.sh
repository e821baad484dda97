#!/bin/sh
# tools/install.sh, with the programs built, builds nothing and writes launchers that
# run them: duotint-cli --version answers as the program does, and a usage error
# ends with the program's exit code.
# Usage: installed_launchers.sh SOURCE-FOLDER BUILD-FOLDER
set -u
t=$(mktemp -d); trap 'rm -rf "$t"' EXIT
DUOTINT_BUILD=$2 PREFIX=$t bash "$1/tools/install.sh" >"$t/install.txt" 2>&1 || { cat "$t/install.txt"; exit 1; }
! grep -q 'building' "$t/install.txt" || { echo "install built the programs, which were built"; exit 1; }
got=$("$t/bin/duotint-cli" --version </dev/null 2>&1 | head -n 1)
case $got in "duotint-cli "[0-9]*) ;; *) echo "duotint-cli --version printed '$got'"; exit 1 ;; esac
"$t/bin/duotint-cli" --tint 1 . >/dev/null 2>&1
code=$?; [ $code = 64 ] || { echo "a usage error ended with $code, not 64"; exit 1; }
