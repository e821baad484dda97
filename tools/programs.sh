# Sourced by tools/run.sh, tools/cli.sh and the launchers tools/install.sh
# writes: builds duotint's three programs only when something they are made
# from changed since their last build, and runs them under Wine.
#
# Asking CMake takes seconds even when nothing changed, and the setup's
# package check and the libraries' cache check more; a program started for
# one picture would pay them each time. Instead a stamp in the build folder
# holds a fingerprint of the sources (each file's name, size and time under
# src/, res/, cmake/, CMakeLists.txt, tools/deps.list and tools/build.sh)
# taken before the last successful build, and of the programs it left. Both are taken again here, in a few milliseconds: when
# they match the stamp, nothing needs building. The sources' part is taken
# before the build, so that a file saved while it runs is built next time.
#
# Expects root and build to be set. The build's output goes to standard
# error: as it comes with programs_show=yes, else only when it fails.

programs=(duotint duotint-decode duotint-cli)

# Every file the programs are made from, with its size and time.
programs_sources() {
  find "$root/src" "$root/res" "$root/cmake" "$root/CMakeLists.txt" "$root/tools/deps.list" \
       "$root/tools/build.sh" -type f -printf '%p %s %T@\n' 2>/dev/null | LC_ALL=C sort
  printf 'deps %s\n' "${DUOTINT_DEPS:-}"
}

# The programs as built; fails when one is missing.
programs_built() {
  local names=() p
  for p in "${programs[@]}"; do names+=("$build/$p.exe"); done
  stat -c '%n %s %Y' "${names[@]}" 2>/dev/null
}

programs_fingerprint() {
  { printf '%s\n' "$1"; programs_built || echo missing; } | md5sum | cut -d' ' -f1
}

# True when the stamp matches the sources and programs as they are now, and
# the Wine prefix the build made is there. Only its being there counts: Wine
# writes its registry files again each time its server ends.
programs_fresh() {
  local stamp="$build/programs.stamp"
  [ -f "$stamp" ] && [ -f "$build/wineprefix/system.reg" ] || return 1
  [ "$(cat "$stamp")" = "$(programs_fingerprint "$(programs_sources)")" ]
}

# Builds the programs unless they are fresh; false, with the build's output
# on standard error, when the build fails.
programs_build() {
  programs_fresh && return 0
  local sources output
  sources=$(programs_sources)
  rm -f "$build/programs.stamp"
  if [ "${programs_show:-no}" = yes ]; then
    "$root/tools/build.sh" --target "${programs[@]}" >&2 || return 1
  elif ! output=$("$root/tools/build.sh" --target "${programs[@]}" 2>&1); then
    printf '%s\n' "$output" >&2
    return 1
  fi
  programs_fingerprint "$sources" >"$build/programs.stamp"
}

# Runs duotint-cli as built, under the build's Wine prefix, with the
# arguments as given (Wine takes a Unix path, relative or absolute, as it
# stands), and ends the script with its exit code. Its lines end in LF
# instead of the console's CR LF.
programs_cli() {
  export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  set +e
  if [ -t 2 ]; then
    # A terminal shows CR LF as it shows LF: standard error goes to it as it
    # is, and no pipe waits for Wine's helper processes (below).
    wine "$build/duotint-cli.exe" "$@" | sed 's/\r$//'
    exit "${PIPESTATUS[0]}"
  fi
  # Wine's helper processes, started with the prefix's first program, hold
  # its standard error until the prefix goes idle, 3 s later: a pipe there
  # would wait for them. So standard error goes to a file, whose lines follow
  # standard output's once duotint-cli ends (a file or a log reads them so).
  local said code
  said=$(mktemp)
  wine "$build/duotint-cli.exe" "$@" 2>"$said" | sed 's/\r$//'
  code=${PIPESTATUS[0]}
  sed 's/\r$//' "$said" >&2
  rm -f "$said"
  exit "$code"
}

# Runs the editor as built with the arguments as given, in a Wine prefix of
# its own with Wine's default window handling, so that the desktop's window
# manager manages duotint's windows like any other program's (the prefix of
# the tests leaves windows unmanaged, which suits only a display without a
# window manager). An export's look line comes out in LF; the editor's exit
# code is the function's.
programs_editor() {
  if [ -z "${DISPLAY:-}" ]; then
    echo "duotint: no display (DISPLAY is not set); start it from a desktop session or under Xvfb." >&2
    return 1
  fi
  export WINEPREFIX="$build/wineprefix-desktop"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "duotint: initialising the Wine prefix in $WINEPREFIX" >&2
    WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
  fi
  WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wine "$build/duotint.exe" "$@" | sed 's/\r$//'
  return "${PIPESTATUS[0]}"
}
