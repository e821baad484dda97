#!/usr/bin/env bash
# Configures and builds duotint, its tests and its benchmark in build/.
# Arguments go to cmake --build: --target duotint builds only that.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${DUOTINT_BUILD:-$root/build}
"$root/tools/setup.sh"
# The libraries the decoding process reads with, built once into a cache.
deps=$("$root/tools/deps.sh" | tail -n 1)
# Configured anew when the libraries' prefix is not the one the build has.
configured=$(sed -n 's/^DUOTINT_DEPS:PATH=//p' "$build/CMakeCache.txt" 2>/dev/null || true)
if [ ! -f "$build/CMakeCache.txt" ] || [ "$configured" != "$deps" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DDUOTINT_DEPS="$deps" >/dev/null
fi
cmake --build "$build" -j "$(nproc)" "$@"
