#!/usr/bin/env bash
# Builds the HLSL compiler the Windows build needs (HLSL -> shader model 5
# bytecode) from Debian's sources and caches it outside the clone:
#   scripts/build-hlsl-compiler.sh        prints the compiler's path
# The cache is ${FRELVANTA_CACHE:-~/.cache/frelvanta}/vkd3d-<version>; when the
# compiler is already there nothing is fetched or built.
#
# The compiler is vkd3d-shader (HLSL front end and DXBC writer) with the small
# command-line front end in tools/hlslc/. Debian 12's own vkd3d (1.2) is too
# old to compile compute programs; the copy of vkd3d that Debian's wine 10.0
# source package carries is 1.14, which does. The sources come through
# `apt-get source` from a deb-src entry for unstable on the mirror this
# machine's apt already uses, in a private apt state (the system's sources
# and lists are not touched). Needs gcc, bison, flex (scripts/install-deps.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
REPO=$(pwd)

WINE_SOURCE_VERSION=${FV_WINE_SOURCE_VERSION:-10.0~repack-12}
VKD3D_VERSION=1.14
CACHE_ROOT=${FRELVANTA_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/frelvanta}
PREFIX=$CACHE_ROOT/vkd3d-$VKD3D_VERSION
COMPILER=$PREFIX/bin/hlslc
# The front end is part of the cached build: a change to it rebuilds.
STAMP=$(cat tools/hlslc/hlslc.c tools/hlslc/shim/* "$0" | sha256sum | cut -c1-16)

if [ -x "$COMPILER" ] && [ "$(cat "$PREFIX/stamp" 2>/dev/null)" = "$STAMP" ]; then
  echo "$COMPILER"
  exit 0
fi

for tool in gcc bison flex apt-get; do
  command -v "$tool" >/dev/null || { echo "build-hlsl-compiler: $tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done

started=$(date +%s)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# The mirror of the machine's own Debian entries.
MIRROR=$(grep -hoE '^(URIs:|deb) +[^ ]*(https?://[^ ]+/debian)/?' /etc/apt/sources.list.d/*.sources \
           /etc/apt/sources.list 2>/dev/null | grep -oE 'https?://[^ ]+/debian' | head -n1 || true)
MIRROR=${MIRROR:-http://deb.debian.org/debian}
mkdir -p "$WORK/apt/lists/partial" "$WORK/apt/cache/archives/partial" "$WORK/src"
echo "deb-src $MIRROR unstable main" >"$WORK/apt/sources.list"
APT=(-o "Dir::Etc::SourceList=$WORK/apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
     -o "Dir::State::Lists=$WORK/apt/lists" -o "Dir::Cache=$WORK/apt/cache" -o APT::Sandbox::User=root)
echo "build-hlsl-compiler: fetching wine $WINE_SOURCE_VERSION sources from $MIRROR" >&2
apt-get -q "${APT[@]}" update >&2
(cd "$WORK/src" && apt-get -q "${APT[@]}" source --download-only "wine=$WINE_SOURCE_VERSION" >&2)
ORIG=$(ls "$WORK"/src/wine_*.orig.tar.xz)
tar -xJf "$ORIG" -C "$WORK/src" --wildcards '*/libs/vkd3d/*' '*/include/wine/list.h' '*/include/wine/rbtree.h'
W=$(ls -d "$WORK"/src/wine-*)
V=$W/libs/vkd3d
grep -q "\"vkd3d $VKD3D_VERSION\"" "$V/config.h" || {
  echo "build-hlsl-compiler: the package does not carry vkd3d $VKD3D_VERSION" >&2; exit 1; }

S=$V/libs/vkd3d-shader
B=$WORK/build
mkdir -p "$B"
bison -d -o "$B/hlsl.tab.c" "$S/hlsl.y"
bison -d -o "$B/preproc.tab.c" "$S/preproc.y"
flex -o "$B/hlsl.yy.c" "$S/hlsl.l"
flex -o "$B/preproc.yy.c" "$S/preproc.l"
# Wine builds this copy with its own headers; the few definitions it takes
# from them are in tools/hlslc/shim/ (blob.c and error.c serve the Direct3D
# 12 library and are not needed).
CFLAGS=(-O2 -std=gnu11 -w -DLIBVKD3D_SHADER_SOURCE -DHAVE_SYNC_ADD_AND_FETCH=1
        -DHAVE_SYNC_BOOL_COMPARE_AND_SWAP=1 -DHAVE_ATOMIC_EXCHANGE_N=1
        -I"$REPO/tools/hlslc/shim" -I"$W/include" -I"$V" -I"$V/include" -I"$V/include/private" -I"$S" -I"$B")
SOURCES=($(ls "$V"/libs/vkd3d-common/*.c | grep -vE "/(error|blob).c$") "$S"/*.c "$B"/*.c
         "$REPO/tools/hlslc/hlslc.c" "$REPO/tools/hlslc/shim/debug_env.c")
JOBS=$(nproc)
printf '%s\n' "${SOURCES[@]}" | xargs -P "$JOBS" -I{} sh -c 'gcc "$@" -c "{}" -o "'"$B"'/$(basename "{}" .c).o"' _ "${CFLAGS[@]}"
mkdir -p "$PREFIX/bin"
gcc -o "$COMPILER.new" "$B"/*.o -lm -lpthread
mv "$COMPILER.new" "$COMPILER"
echo "$STAMP" >"$PREFIX/stamp"
echo "build-hlsl-compiler: built vkd3d $VKD3D_VERSION's compiler in $(($(date +%s) - started)) s" >&2
echo "$COMPILER"
