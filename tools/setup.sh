#!/usr/bin/env bash
# Installs what duotint needs to build and run on a Debian machine and
# prepares the Wine prefix of the build folder. Safe to run again. Packages
# named as arguments are installed too (tools/bench.sh asks for its peers).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${DUOTINT_BUILD:-$root/build}

packages=(cmake make g++-mingw-w64-x86-64-posix wine wine64 xvfb googletest libcli11-dev libz-mingw-w64-dev
          libimage-exiftool-perl pngcheck libjpeg-turbo-progs webp imagemagick libcap2-bin
          dpkg-dev nasm meson ninja-build libheif-examples libavif-bin apngasm libtiff-tools "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "setup: installing ${missing[*]}"
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

mkdir -p "$build"
export WINEPREFIX="$build/wineprefix"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "setup: initialising the Wine prefix in $WINEPREFIX"
  # No Mono or Gecko prompts: duotint needs neither.
  WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all DISPLAY= wineboot -i >/dev/null 2>&1 || true
  wineserver -w || true
fi
# Xvfb runs no window manager, and Wine waits up to 2 s for one each time a
# window is hidden or destroyed unless its windows are unmanaged.
unmanaged=$(awk '/^\[/ { in_x11 = ($0 ~ /^\[Software\\\\Wine\\\\X11 Driver\]/) }
                 in_x11 && /^"Managed"="N"/ { print "yes" }' "$WINEPREFIX/user.reg" 2>/dev/null)
if [ "$unmanaged" != yes ]; then
  WINEDEBUG=-all DISPLAY= wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  wineserver -w || true
fi
# A crash starts Wine's debugger, which can wait for ever with nobody to
# answer it: a program of ours that crashes simply ends, its exit code the
# exception's.
debugger=$(awk '/^\[/ { in_aedebug = ($0 ~ /^\[Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion\\\\AeDebug\]/) }
                in_aedebug && /^"Debugger"=/ { print "yes" }' "$WINEPREFIX/system.reg" 2>/dev/null)
if [ "$debugger" = yes ]; then
  WINEDEBUG=-all DISPLAY= wine reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f \
    >/dev/null 2>&1
  wineserver -w || true
fi
