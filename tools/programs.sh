# Sourced by tools/run.sh, tools/cli.sh and the launchers tools/install.sh
# writes: builds duotint's three programs only when something they are made
# from changed since their last build, and runs them under Wine.
#
# Asking CMake takes seconds even when nothing changed, and the setup's
# package check and the libraries' cache check more; a program started for
# one picture would pay them each time. Instead the stamp in the build folder
# bears the time the last successful build began, and holds the programs it
# left and the libraries' prefix it was given. Nothing needs building when no
# file or folder the programs are made from (src/, res/, cmake/,
# CMakeLists.txt, tools/deps.list, tools/build.sh) changed status since then,
# and the programs and prefix are the same: one walk of those folders and one
# stat, a few milliseconds. The status time is the one a saved, copied,
# renamed or deleted file cannot set back, and a folder's changes when a file
# in it comes or goes. Taking the time as the build begins makes a file saved
# while it runs be built next time.
#
# Expects root and build to be set. The build's output goes to standard
# error: as it comes with programs_show=yes, else only when it fails.

programs=(duotint duotint-decode duotint-cli)
programs_made_from=(src res cmake CMakeLists.txt tools/deps.list tools/build.sh)

# The programs as built; fails when one is missing.
programs_built() {
  local names=() p
  for p in "${programs[@]}"; do names+=("$build/$p.exe"); done
  stat -c '%n %s %Y' "${names[@]}" 2>/dev/null
}

# Sets programs_now to what the stamp holds besides its time: the libraries'
# prefix and the programs as built; with a stamp given, also the first thing
# made from changed since that stamp's time. One process in all, as each one
# started costs milliseconds here.
programs_survey() {
  local exes=() made_from=() p
  for p in "${programs[@]}"; do exes+=("$build/$p.exe"); done
  for p in "${programs_made_from[@]}"; do made_from+=("$root/$p"); done
  if [ -n "${1:-}" ]; then
    programs_now=$(find "${exes[@]}" "${made_from[@]}" -path "$build/*.exe" -printf '%p %s %T@\n' -o \
                        -cnewer "$1" -printf 'changed %p\n' -quit 2>/dev/null)
  else
    programs_now=$(find "${exes[@]}" -printf '%p %s %T@\n' 2>/dev/null)
  fi
  programs_now="deps ${DUOTINT_DEPS:-}"$'\n'"$programs_now"$'\n'
}

# True when nothing the programs are made from changed since the stamp, the
# stamp's programs and prefix are those of now, and the Wine prefix the build
# made is there. Only the Wine prefix's being there counts: Wine writes its
# registry files again each time its server ends.
programs_fresh() {
  local stamp="$build/programs.stamp" recorded=
  [ -f "$stamp" ] && [ -f "$build/wineprefix/system.reg" ] || return 1
  IFS= read -r -d '' recorded <"$stamp"
  programs_survey "$stamp"
  [ "$recorded" = "$programs_now" ]
}

# Builds the programs unless they are fresh; false, with the build's output
# on standard error, when the build fails.
programs_build() {
  programs_fresh && return 0
  local began="$build/programs.began" output
  mkdir -p "$build" && rm -f "$build/programs.stamp" && touch "$began"
  if [ "${programs_show:-no}" = yes ]; then
    "$root/tools/build.sh" --target "${programs[@]}" >&2 || return 1
  elif ! output=$("$root/tools/build.sh" --target "${programs[@]}" 2>&1); then
    printf '%s\n' "$output" >&2
    return 1
  fi
  programs_survey && printf %s "$programs_now" >"$build/programs.stamp"
  touch -r "$began" "$build/programs.stamp" && rm -f "$began"
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
  # The file's name is made here, and its lines read back by the shell
  # itself: each process started costs milliseconds here.
  local said="${TMPDIR:-/tmp}/duotint-cli.$$.said" code line
  wine "$build/duotint-cli.exe" "$@" 2>"$said" | sed 's/\r$//'
  code=${PIPESTATUS[0]}
  while IFS= read -r line || [ -n "$line" ]; do printf '%s\n' "${line%$'\r'}"; done <"$said" >&2
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
