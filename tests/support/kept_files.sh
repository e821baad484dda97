# Sourced by the checks that hand an encoder's files to a reader of
# Debian's: runs one unit test with its files kept in a fresh folder, and
# leaves that folder in $keep (removed on exit). Fails the check when the
# test does not pass.
# Usage: run_keeping VARIABLE FILTER WINE UNIT_TESTS_EXE
run_keeping() {
  keep=$(mktemp -d)
  trap 'rm -rf "$keep"' EXIT
  # The folder as the Windows program names it: Wine maps / to Z:. A
  # program that crashes under Wine may still end with 0, so the case's own
  # verdict is read too.
  env "$1=Z:$(printf '%s' "$keep" | tr / '\\')" "$3" "$4" --gtest_filter="$2" >"$keep/run.txt" 2>&1
  status=$?
  cat "$keep/run.txt"
  [ "$status" -eq 0 ] && grep -q '^\[  PASSED  \] 1 test' "$keep/run.txt" || exit 1
}
