#!/usr/bin/env bash
# Installs the Debian 12 (or Ubuntu 24.04) packages that the build, the tests,
# the demo and the Debian package need, when any of them is missing: it says
# which ones, and uses sudo when not run as root. When every package is there
# it installs nothing and needs no network.
set -euo pipefail
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

install_missing() {
  local missing=() p
  for p in "$@"; do
    [ "$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null)" = installed ] || missing+=("$p")
  done
  if [ "${#missing[@]}" -eq 0 ]; then
    echo "install-deps: all $# packages are installed"
    return 0
  fi
  echo "install-deps: installing ${missing[*]}${SUDO:+ (through sudo)}"
  # sudo drops the environment, so the frontend setting goes on the command.
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# The first line is for the Debian package and its checks (scripts/package.sh).
install_missing \
  dpkg-dev lintian desktop-file-utils appstream man-db \
  build-essential cmake ninja-build pkg-config git ca-certificates \
  libgtest-dev libgmock-dev libbenchmark-dev \
  qt6-base-dev qt6-svg-dev libgl-dev \
  libavformat-dev libavcodec-dev libavutil-dev libswresample-dev libswscale-dev ffmpeg \
  libpulse-dev pulseaudio pulseaudio-utils sox pipewire wireplumber pipewire-pulse \
  libxcb1-dev libxcb-shm0-dev libxcb-damage0-dev libxcb-composite0-dev libxcb-randr0-dev \
  libxcb-xfixes0-dev libxcb-shape0-dev libx11-dev libx11-xcb-dev \
  libva-dev libdrm-dev \
  libcurl4-openssl-dev openssl python3 \
  xvfb x11-utils x11-xserver-utils xdotool dbus \
  openbox trayer imagemagick x11-apps xclip
# The Windows cross build (mingw-w64 with POSIX threads, GoogleTest's sources)
# and Wine to run its tests.
$SUDO apt-get install -y -qq --no-install-recommends \
  g++-mingw-w64-x86-64-posix googletest wine wine64
