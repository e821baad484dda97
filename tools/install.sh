#!/usr/bin/env bash
# Puts duotint and duotint-cli on the PATH: writes two small launchers into
# $PREFIX/bin (~/.local/bin unless PREFIX is given) that run this clone's
# programs as built, under its Wine prefixes (tools/programs.sh), with no
# build step, so each start costs only the program's own. The programs are
# built here once when one is missing; after a change to the sources,
# tools/build.sh, tools/run.sh or tools/cli.sh builds them again.
#   bash tools/install.sh && duotint-cli --help
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${DUOTINT_BUILD:-$root/build}
bin=${PREFIX:-$HOME/.local}/bin
. "$root/tools/programs.sh"
if ! programs_built >/dev/null || [ ! -f "$build/wineprefix/system.reg" ]; then
  echo "install: building the programs once" >&2
  programs_show=yes programs_build || { echo "install: the build failed; nothing was installed." >&2; exit 1; }
fi

mkdir -p "$bin"
# Each launcher names the clone it runs from; one that finds its programs
# gone says how to have them again.
for name in duotint duotint-cli; do
  run=$([ $name = duotint ] && echo programs_editor || echo programs_cli)
  cat >"$bin/$name.new" <<EOF
#!/usr/bin/env bash
# $name as built in $root, written by its tools/install.sh; it builds nothing.
set -euo pipefail
root=$(printf '%q' "$root") build=$(printf '%q' "$build")
. "\$root/tools/programs.sh"
programs_built >/dev/null || { echo "$name: the programs in \$build are gone; bash \$root/tools/install.sh builds them." >&2; exit 1; }
$run "\$@"
EOF
  chmod +x "$bin/$name.new"
  mv -f "$bin/$name.new" "$bin/$name"
  echo "install: $bin/$name"
done
case ":$PATH:" in
  *":$bin:"*) ;;
  *) echo "install: $bin is not on your PATH; add it, for example: echo 'export PATH=\"$bin:\$PATH\"' >>~/.bashrc" >&2 ;;
esac
