#!/bin/bash
# tools/cli.sh builds only when something the programs are made from changed:
# run in a copied tree whose build.sh counts its runs, and whose wine does nothing.
t=$(mktemp -d); trap 'rm -rf "$t"' EXIT
mkdir -p "$t/tools" "$t/src" "$t/bin" && cp "$1"/tools/{cli.sh,programs.sh,deps.list} "$t/tools/"
echo 1 >"$t/src/a.cpp"; printf '#!/bin/sh\n' >"$t/bin/wine"
cat >"$t/tools/build.sh" <<'EOF'
#!/bin/sh
cd "$(dirname "$0")/.." && echo >>builds && [ ! -f fail ] && mkdir -p build/wineprefix && touch build/wineprefix/system.reg &&
  for p in duotint duotint-decode duotint-cli; do date +%N >build/$p.exe; done
EOF
chmod +x "$t/tools/build.sh" "$t/bin/wine"; export PATH="$t/bin:$PATH"; unset DUOTINT_BUILD
failed=0
row() { # LABEL BUILDS EXIT, after running the change given
  bash "$t/tools/cli.sh" --version >/dev/null 2>&1; code=$?; n=$(wc -l <"$t/builds")
  [ "$n" = "$2" ] && [ "$code" = "$3" ] || { echo "FAIL $1: $n builds (not $2), exit $code (not $3)"; failed=1; }
}
row "first run" 1 0
row "nothing changed" 1 0
echo 2 >"$t/src/a.cpp"; row "a source changed" 2 0
rm "$t/build/duotint-cli.exe"; row "a program missing" 3 0
echo x >"$t/build/wineprefix/system.reg"; row "Wine wrote its registry again" 3 0
touch "$t/fail" "$t/src/a.cpp"; row "a failed build" 4 1
rm "$t/fail"; row "after a failed build" 5 0
rm "$t/src/a.cpp"; row "a source removed" 6 0
exit $failed
