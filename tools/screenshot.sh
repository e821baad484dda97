#!/usr/bin/env bash
# Makes docs/screenshot.png: the editor on the bundled sample picture with a
# two-colour tint typed in, taken from the real program under Xvfb.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${DUOTINT_BUILD:-$root/build}
out=${1:-$root/docs/screenshot.png}
"$root/tools/build.sh" >/dev/null
for p in xdotool imagemagick; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || {
    sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$p" >/dev/null
  }
done

display=:$((200 + RANDOM % 100))
Xvfb "$display" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
work=$(mktemp -d)
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all DISPLAY=$display
cleanup() { wineserver -k 2>/dev/null || true; kill "$xvfb" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
sleep 1
cp "$root/samples/sunset.bmp" "$work/"
(cd "$work" && wine "$build/duotint.exe" >/dev/null 2>&1 &)
sleep 3

# The name popup stands at (200, 200): focus it, type the name.
xdotool mousemove 300 250 click 1; sleep 0.5
xdotool type --delay 120 sunset; xdotool key Return; sleep 1

# sunset.bmp is 480 x 360: on a 1920 x 1080 desktop the editor window stands at
# (442, 236), 592 x 372, with its value boxes at client x 535.
left=442; top=236; panel=$((left + 535 + 10))
xdotool mousemove $panel $((top + 23)) click 1; sleep 0.5   # focus: re-creates the window
enter() {  # enter VALUE ROW_TOP: types a number over a panel row
  xdotool mousemove $panel $((top + $2 + 8)); sleep 0.2
  xdotool mousemove_relative 1 0; sleep 0.2; xdotool mousemove_relative -- -1 0; sleep 0.2
  xdotool type --delay 100 "$1"; xdotool key Return; sleep 0.6
}
enter 255 15; enter 140 35; enter 40 55; enter 45 75
enter 40 115
enter 20 155; enter 70 175; enter 220 195; enter 35 215
sleep 1
import -window root -crop 592x372+$left+$top +repage "$out"
xdotool key Escape; sleep 1
echo "screenshot: $out"
