#!/usr/bin/env bash
# Cross-builds the software encoder the Windows build carries (FFmpeg's
# libavformat, libavcodec, libavutil, libswresample, libswscale with
# libx264) for x86_64-w64-mingw32 from Debian's source packages, as static
# libraries. Only what the writer uses goes in: the libx264, AAC and FLAC
# encoders, the MP4 muxer and the file protocol.
#
# The result is cached outside the clone and reused:
#   ${FRELVANTA_CACHE:-~/.cache/frelvanta}/ffmpeg-win64-<ffmpeg version>-x264-<x264 version>/
# The script prints that folder on its last line; the Windows build takes it
# as FRELVANTA_WIN_FFMPEG (scripts/run-windows-tests.sh passes it).
#   scripts/build-ffmpeg-windows.sh [--print-dir]
# --print-dir prints the folder without building anything.
set -euo pipefail
CACHE=${FRELVANTA_CACHE:-$HOME/.cache/frelvanta}
HOST=x86_64-w64-mingw32
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"

# Debian's source versions; the cache folder is named after them, so a
# security update of either package builds a fresh copy.
source_version() {
  apt-cache showsrc "$1" 2>/dev/null | awk '/^Version:/ {print $2}' | sort -V | tail -n 1
}
ensure_deb_src() {
  [ -n "$(source_version ffmpeg)" ] && return 0
  # Add source lines for the mirrors and suites the binary lines use.
  local list=/etc/apt/sources.list.d/frelvanta-deb-src.sources
  echo "build-ffmpeg-windows: adding Debian source lines ($list)" >&2
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed -n '/^Types:.*deb/,/^$/p' /etc/apt/sources.list.d/debian.sources |
      sed 's/^Types:.*/Types: deb-src/' | $SUDO tee "$list" >/dev/null
  else
    grep -h '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
      $SUDO tee /etc/apt/sources.list.d/frelvanta-deb-src.list >/dev/null
  fi
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -qq
}

ensure_deb_src
FF_VERSION=$(source_version ffmpeg)
X264_VERSION=$(source_version x264)
[ -n "$FF_VERSION" ] && [ -n "$X264_VERSION" ] || { echo "build-ffmpeg-windows: no Debian sources for ffmpeg/x264" >&2; exit 1; }
# "7:5.1.9-0+deb12u1" -> "5.1.9-0+deb12u1"; "2:0.164.3095+gitbaee400-3" -> "0.164.3095+gitbaee400-3"
DEST=$CACHE/ffmpeg-win64-${FF_VERSION#*:}-x264-${X264_VERSION#*:}
if [ "${1:-}" = "--print-dir" ]; then
  echo "$DEST"
  exit 0
fi
if [ -f "$DEST/.complete" ]; then
  echo "build-ffmpeg-windows: cached"
  echo "$DEST"
  exit 0
fi

JOBS=${FRELVANTA_JOBS:-$(nproc)}
started=$(date +%s)
mkdir -p "$CACHE"
WORK=$(mktemp -d "$CACHE/build.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"
# Unpacked with Debian's patches applied.
apt-get source -qq "ffmpeg=$FF_VERSION" "x264=$X264_VERSION" >/dev/null

# 8-bit only: the H.264 profiles the writer offers (baseline, main, high)
# are all 8-bit.
asm=()
command -v nasm >/dev/null || { echo "build-ffmpeg-windows: no nasm, building without assembly (slow encoder)" >&2; asm=(--disable-asm); }
# A stage already installed by an interrupted run is kept.
[ -f "$DEST/lib/libx264.a" ] || (
  cd x264-*/
  ./configure --host=$HOST --cross-prefix=$HOST- --prefix="$DEST" \
    --enable-static --disable-cli --disable-opencl --disable-avs --disable-swscale \
    --disable-lavf --disable-ffms --disable-gpac --disable-lsmash --bit-depth=8 "${asm[@]}" >/dev/null
  # A one-off build needs no header dependencies; generating them file by
  # file costs minutes.
  touch .depend
  make -j"$JOBS" >/dev/null
  make install-lib-static >/dev/null
)

ffasm=()
command -v nasm >/dev/null || ffasm=(--disable-x86asm)
(
  cd ffmpeg-*/
  PKG_CONFIG_LIBDIR="$DEST/lib/pkgconfig" PKG_CONFIG_PATH="" ./configure \
    --prefix="$DEST" --target-os=mingw32 --arch=x86_64 --enable-cross-compile --cross-prefix=$HOST- \
    --pkg-config=pkg-config --pkg-config-flags=--static \
    --enable-static --disable-shared --enable-gpl \
    --disable-autodetect --disable-everything --disable-programs --disable-doc \
    --disable-avdevice --disable-avfilter --disable-postproc --disable-network --disable-debug \
    --enable-w32threads \
    --enable-libx264 --enable-encoder=libx264,aac,flac \
    --enable-muxer=mp4,mov --enable-parser=h264,aac,flac \
    --enable-bsf=aac_adtstoasc,extract_extradata --enable-protocol=file \
    --enable-swresample --enable-swscale "${ffasm[@]}" >/dev/null
  make -j"$JOBS" >/dev/null
  make install >/dev/null
)
echo "ffmpeg $FF_VERSION, x264 $X264_VERSION, built in $(($(date +%s) - started)) s" >"$DEST/.complete"
echo "build-ffmpeg-windows: built in $(($(date +%s) - started)) s"
echo "$DEST"
