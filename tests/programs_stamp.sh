#!/bin/sh
# tools/cli.sh builds the programs only when something they are made from
# changed. It runs here in a copy of the tools beside a made-up source tree,
# with a build.sh that counts its runs and a wine that only says what it
# was asked, so each row counts builds, never time.
# Usage: programs_stamp.sh SOURCE_FOLDER
set -u
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/tools" "$tree/src" "$tree/res" "$tree/cmake" "$tree/bin"
cp "$1/tools/cli.sh" "$1/tools/programs.sh" "$1/tools/deps.list" "$tree/tools/"
echo 'int main() {}' >"$tree/src/main.cpp"
echo 'project(x)' >"$tree/CMakeLists.txt"
cat >"$tree/tools/build.sh" <<'EOF'
#!/bin/sh
root=$(cd "$(dirname "$0")/.." && pwd)
echo run >>"$root/builds"
[ ! -f "$root/fail" ] || { echo "error: made to fail"; exit 1; }
mkdir -p "$root/build/wineprefix"
touch "$root/build/wineprefix/system.reg"
for p in duotint duotint-decode duotint-cli; do echo "$p $(date +%N)" >"$root/build/$p.exe"; done
EOF
printf '#!/bin/sh\necho "wine $*"\n' >"$tree/bin/wine"
chmod +x "$tree/tools/build.sh" "$tree/bin/wine"
PATH="$tree/bin:$PATH"
export PATH
unset DUOTINT_BUILD

failed=0
# row LABEL BUILDS_EXPECTED EXIT_EXPECTED: runs tools/cli.sh --version once.
row() {
  out=$(bash "$tree/tools/cli.sh" --version 2>&1)
  code=$?
  builds=$(cat "$tree/builds" 2>/dev/null | wc -l)
  if [ "$builds" -ne "$2" ] || [ "$code" -ne "$3" ]; then
    echo "FAIL $1: $builds builds (expected $2), exit $code (expected $3): $out"
    failed=1
  else
    echo "ok   $1"
  fi
}
row "first run builds" 1 0
row "nothing changed: no build" 1 0
echo 'int main() { return 1; }' >"$tree/src/main.cpp"
row "a source changed: builds" 2 0
row "then nothing changed: no build" 2 0
echo '# another library' >>"$tree/tools/deps.list"
row "the libraries' list changed: builds" 3 0
rm "$tree/build/duotint-cli.exe"
row "a program is missing: builds" 4 0
echo 'x' >"$tree/build/duotint-decode.exe"
row "a program built elsewhere: builds" 5 0
echo 'written again' >"$tree/build/wineprefix/system.reg"
row "the prefix's registry written again: no build" 5 0
rm "$tree/build/wineprefix/system.reg"
row "no Wine prefix: builds" 6 0
touch "$tree/fail" "$tree/src/main.cpp"
row "a failing build: exit 1" 7 1
rm "$tree/fail"
row "after a failed build: builds" 8 0
row "and then no build" 8 0
case $(bash "$tree/tools/cli.sh" --version 2>&1) in
  *"wine $tree/build/duotint-cli.exe --version"*) echo "ok   the program runs with the arguments" ;;
  *) echo "FAIL the program did not run with the arguments"; failed=1 ;;
esac
exit $failed
