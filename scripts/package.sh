#!/usr/bin/env bash
# Builds the Debian package frelvanta_<version>_<arch>.deb with CPack and
# prints its path. Uses the build folder given (default build/, configured
# when it has not been), and builds only what the package holds.
#   scripts/package.sh [build-folder]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-${BUILD_DIR:-$root/build}}")
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target frelvanta frelvanta_data
rm -f "$build"/package/frelvanta_*.deb
(cd "$build" && cpack -G DEB --config CPackConfig.cmake >/dev/null)
ls "$build"/package/frelvanta_*.deb
