#!/usr/bin/env bash
# Builds the libraries of tools/deps.list for the target, from Debian's source
# packages, into a cache outside the clone, and prints the prefix they are
# installed in (include/, lib/, share/doc/<package>/) as its last line.
#
# The sources come from `apt-get source` through a private apt configuration
# whose deb-src entries are derived from this machine's own Debian sources, so
# apt checks the archive's signature and every file's hash and applies
# Debian's patches; the system's sources are never edited.
#
# The cache is ${XDG_CACHE_HOME:-~/.cache}/duotint-deps/<key>/, the key a hash
# of the list, the toolchain file, the compilers' versions and this script's
# recipe, so a second clone and a fresh CI clone reuse one build. A build
# happens in a folder beside it and is renamed into place only when whole, so
# an interrupted build is never taken for a done one. DUOTINT_DEPS names a
# prepared prefix instead, and nothing is fetched or built.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
list=$root/tools/deps.list
toolchain=$root/cmake/mingw-w64-x86_64.cmake
# Bumped when the way a package is built changes, so that old builds are not reused.
recipe=5

say() { echo "deps: $*" >&2; }
fail() {
  say "$1; build the libraries of tools/deps.list yourself and set DUOTINT_DEPS to the prefix they are installed in."
  exit 1
}

if [ -n "${DUOTINT_DEPS:-}" ]; then
  [ -d "$DUOTINT_DEPS/include" ] && [ -d "$DUOTINT_DEPS/lib" ] ||
    { say "DUOTINT_DEPS is $DUOTINT_DEPS, which holds no include/ and lib/ folders."; exit 1; }
  echo "$DUOTINT_DEPS"
  exit 0
fi

packages=$(grep -v -e '^[[:space:]]*#' -e '^[[:space:]]*$' "$list")
key=$({
  echo "recipe $recipe"
  echo "$packages"
  cat "$toolchain"
  x86_64-w64-mingw32-gcc-posix --version | head -n 1
  x86_64-w64-mingw32-g++-posix --version | head -n 1
  nasm -v
  meson --version
} | sha256sum | cut -c 1-16)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/duotint-deps
prefix=$cache/$key
if [ -f "$prefix/duotint-deps.txt" ]; then
  echo "$prefix"
  exit 0
fi

mkdir -p "$cache"
# Two clones building at once: the second waits for the first and takes its build.
exec 9>"$cache/.lock"
flock 9
if [ -f "$prefix/duotint-deps.txt" ]; then
  echo "$prefix"
  exit 0
fi
# With the lock held no build is under way: a folder of one is what a build
# killed outright left.
rm -rf "$cache"/.build.*
work=$(mktemp -d "$cache/.build.XXXXXX")
trap 'rm -rf "$work"' EXIT
# Installed under its final name inside the staging folder (DESTDIR), so the
# paths written into the packages' own files hold once it is renamed.
stage=$work/stage
mkdir -p "$stage$prefix"

# The private apt configuration: every deb entry of the Debian sources becomes
# a deb-src entry, in a folder of our own; the lists go there too.
apt_dir=$work/apt
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
if [ -f /etc/apt/sources.list.d/debian.sources ]; then
  sed -e 's/^Types:.*$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources >"$apt_dir/debian.sources"
fi
if [ -f /etc/apt/sources.list ]; then
  sed -n -e 's/^[[:space:]]*deb[[:space:]]/deb-src /p' /etc/apt/sources.list >"$apt_dir/debian.list"
fi
apt_options=(-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$apt_dir"
             -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir/cache"
             -o APT::Sandbox::User="$(id -un)" -o APT::Update::Error-Mode=any)
fetched_lists=no
fetch() {  # package version: unpacks the source into $work/src/<package>
  local package=$1 version=$2
  if [ $fetched_lists = no ]; then
    say "reading the lists of Debian's source packages"
    apt-get "${apt_options[@]}" -q update >"$work/apt-update.log" 2>&1 ||
      fail "Debian's archive could not be reached to fetch the source package $package $version (no network?)"
    fetched_lists=yes
  fi
  say "fetching $package $version"
  mkdir -p "$work/src/$package"
  if ! (cd "$work/src/$package" && apt-get "${apt_options[@]}" -q source --only-source "$package=$version") \
      >"$work/src/$package.log" 2>&1; then
    if grep -q -e "Can not find version" -e "Unable to find a source package" "$work/src/$package.log"; then
      fail "Debian's archive no longer serves the source package $package $version"
    fi
    fail "the source package $package $version could not be fetched from Debian's archive ($(grep -m 1 '^E:' "$work/src/$package.log" || echo 'see apt-get source'))"
  fi
}

build_log() {  # package: where a failed build's log is kept
  echo "$cache/$1.log"
}

# A package that builds on an earlier one finds it in the staging folder: its
# pkg-config files there, with the paths they name taken inside the folder.
# The host's own packages are never found for the target.
export PKG_CONFIG_LIBDIR=$stage$prefix/lib/pkgconfig PKG_CONFIG_SYSROOT_DIR=$stage
unset PKG_CONFIG_PATH

build_cmake() {  # package source options...
  local package=$1 source=$2
  shift 2
  local log
  log=$(build_log "$package")
  if ! { cmake -S "$source" -B "$work/build/$package" -G "Unix Makefiles" \
           -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
           -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_PREFIX_PATH="$stage$prefix" "$@" &&
         cmake --build "$work/build/$package" -j "$(nproc)" &&
         DESTDIR="$stage" cmake --install "$work/build/$package"; } >"$log" 2>&1; then
    tail -n 20 "$log" >&2
    fail "$package did not build for the target (its log is $log)"
  fi
  rm -f "$log"
}

# Meson's cross file, written from the compilers the toolchain file names, so
# both build systems compile with the same ones.
meson_cross() {
  local c cxx
  c=$(sed -n 's/^set(CMAKE_C_COMPILER[[:space:]]*\([^)]*\))/\1/p' "$toolchain")
  cxx=$(sed -n 's/^set(CMAKE_CXX_COMPILER[[:space:]]*\([^)]*\))/\1/p' "$toolchain")
  cat <<CROSS
[binaries]
c = '$c'
cpp = '$cxx'
ar = 'x86_64-w64-mingw32-ar'
strip = 'x86_64-w64-mingw32-strip'
windres = 'x86_64-w64-mingw32-windres'
nasm = 'nasm'
pkgconfig = 'pkg-config'

[host_machine]
system = 'windows'
cpu_family = 'x86_64'
cpu = 'x86_64'
endian = 'little'
CROSS
}

build_meson() {  # package source options...
  local package=$1 source=$2
  shift 2
  local log
  log=$(build_log "$package")
  meson_cross >"$work/meson-cross.txt"
  if ! { meson setup "$work/build/$package" "$source" --cross-file "$work/meson-cross.txt" \
           --prefix "$prefix" --libdir lib --buildtype release --default-library static "$@" &&
         ninja -C "$work/build/$package" -j "$(nproc)" &&
         DESTDIR="$stage" meson install -C "$work/build/$package" --no-rebuild; } >"$log" 2>&1; then
    tail -n 20 "$log" >&2
    fail "$package did not build for the target (its log is $log)"
  fi
  rm -f "$log"
}

# A plain Makefile (no configure step), built in its source with the
# toolchain's C compiler: the options are the make targets and variables; the
# static libraries it leaves at its top go to lib/, its install targets put
# the rest in place.
build_make() {  # package source options...
  local package=$1 source=$2
  shift 2
  local log c
  log=$(build_log "$package")
  c=$(sed -n 's/^set(CMAKE_C_COMPILER[[:space:]]*\([^)]*\))/\1/p' "$toolchain")
  if ! { make -C "$source" -j "$(nproc)" CC="$c" AR=x86_64-w64-mingw32-ar PREFIX="$prefix" DESTDIR="$stage" "$@" &&
         mkdir -p "$stage$prefix/lib" &&
         cp "$source"/*.a "$stage$prefix/lib/"; } >"$log" 2>&1; then
    tail -n 20 "$log" >&2
    fail "$package did not build for the target (its log is $log)"
  fi
  rm -f "$log"
}

while read -r package version system options; do
  fetch "$package" "$version"
  # apt-get source unpacks into <package>-<upstream version>/, the only folder it makes.
  source=$(find "$work/src/$package" -mindepth 1 -maxdepth 1 -type d | head -n 1)
  say "building $package $version for the target (a few minutes, once)"
  case $package in
    # libde265 locks a mutex and signals a condition at every block it
    # decodes. Its Win32 branch takes kernel objects for them, each lock a
    # call into the system (under Wine a round trip to its server);
    # its POSIX branch, built on the toolchain's winpthreads, locks within the
    # process. The branch is chosen by _WIN32 in these two files alone, so
    # only there is it renamed to a word nothing defines.
    libde265) sed -i 's/\b_WIN32\b/DE265_WIN32_THREADS/' "$source/libde265/threads.h" "$source/libde265/threads.cc" ;;
    # libheif starts libde265 with one worker thread, so a picture coded in
    # rows that may be decoded side by side (wavefronts, which most encoders
    # write) still decodes on one core. It gets one for each processor.
    libheif) sed -i -e 's/de265_start_worker_threads(decoder->ctx, 1)/de265_start_worker_threads(decoder->ctx, (int) std::thread::hardware_concurrency())/' \
                    -e '0,/^#include/s//#include <thread>\n#include/' "$source/libheif/plugins/heif_decoder_libde265.cc" ;;
  esac
  # @PREFIX@ in the options names where earlier packages are installed.
  options=${options//@PREFIX@/$stage$prefix}
  # shellcheck disable=SC2086  # the options are words
  case $system in
    cmake) build_cmake "$package" "$source" $options ;;
    meson) build_meson "$package" "$source" $options ;;
    make) build_make "$package" "$source" $options ;;
    # Autotools projects (--host=x86_64-w64-mingw32) get a builder of their own here.
    *) fail "$package is built with $system, which tools/deps.sh does not build yet" ;;
  esac
  # The licence texts go with every package, for the release zip: those at
  # the top of its source, which not every package installs itself.
  docs=$stage$prefix/share/doc/$package
  mkdir -p "$docs"
  for text in "$source"/COPYING "$source"/PATENTS "$source"/LICENSE*; do
    [ -f "$text" ] && [ ! -e "$docs/$(basename "$text")" ] && cp "$text" "$docs/"
  done
  echo "$package $version" >>"$stage$prefix/duotint-deps.txt"
done <<<"$packages"

mv -T "$stage$prefix" "$prefix"
say "built into $prefix"
echo "$prefix"
