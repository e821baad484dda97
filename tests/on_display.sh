#!/bin/sh
# Runs one test program that puts windows on the screen. tools/test.sh starts
# several Xvfb displays, each with a Wine prefix of its own (so its own Wine
# server, foreground window and cursor), and hands their names to ctest;
# ctest gives each such entry one display (CTEST_RESOURCE_GROUP_0_DISPLAYS is
# "id:N,slots:1"), so entries on different displays run side by side. Run
# without them, as a plain ctest does, the entries take turns on $DISPLAY.
set -e
if [ -n "${CTEST_RESOURCE_GROUP_0_DISPLAYS:-}" ] && [ -n "${DUOTINT_DISPLAY_LIST:-}" ]; then
  id=${CTEST_RESOURCE_GROUP_0_DISPLAYS#id:}
  id=${id%%,*}
  DISPLAY=$(echo "$DUOTINT_DISPLAY_LIST" | cut -d' ' -f$((id + 1)))
  [ "$id" = 0 ] || WINEPREFIX="$WINEPREFIX-$id"
  export DISPLAY WINEPREFIX
  exec "$@"
fi
exec flock "$WINEPREFIX.display-lock" "$@"
