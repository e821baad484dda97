#!/bin/sh
# A folder duotint-cli may not read is a failure it names, never a folder
# without pictures: under -r beside a readable one, and named as PATH, each
# ends with exit 5 and a line naming the folder, and the readable picture is
# still done. Root reads every folder, so as root duotint-cli runs without
# the capabilities that let it. Usage: unreadable_folder.sh WINE DUOTINT-CLI
# PICTURES-FOLDER (77: no way to take away the right to read a folder)
set -eu
wine=$1 cli=$2 pictures=$3
as_user=""
if [ "$(id -u)" -eq 0 ]; then
  command -v capsh >/dev/null || { echo "capsh is not installed: skipped"; exit 77; }
  as_user="capsh --drop=cap_dac_override,cap_dac_read_search --"
fi
dir=$(mktemp -d)
trap 'chmod -R u+rwx "$dir"; rm -rf "$dir"' EXIT
mkdir -p "$dir/photos/locked"
cp "$pictures/grey.png" "$dir/photos/a.png"
cp "$pictures/grey.png" "$dir/photos/locked/b.png"
chmod 000 "$dir/photos/locked"
cd "$dir"
run() {  # exit code, then the lines of both streams
  set +e
  if [ -n "$as_user" ]; then
    $as_user -c "\"\$0\" \"\$@\"" "$wine" "$cli" --tint 0,0,0,0,0,0,0,0,0 "$@" >out.txt 2>&1
  else
    "$wine" "$cli" --tint 0,0,0,0,0,0,0,0,0 "$@" >out.txt 2>&1
  fi
  code=$?
  set -e
  tr -d '\r' <out.txt
  return 0
}
failed=0
# Names found in a folder take the separator typed in its PATH, or '\'.
for case in "-r photos|photos\\locked" "photos/locked|photos/locked"; do
  # shellcheck disable=SC2086
  run ${case%%|*} >lines.txt
  want="duotint-cli cannot read the folder ${case#*|}: it may not be read; its pictures are not done."
  if [ "$code" -ne 5 ] || ! grep -qxF "$want" lines.txt; then
    echo "${case%%|*}: exit $code (5 wanted), and the line '$want' wanted in:"; cat lines.txt; failed=1
  fi
done
[ -f photos/a-.bmp ] || { echo "-r photos: a.png was not done"; failed=1; }
exit $failed
