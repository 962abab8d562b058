#!/usr/bin/env bash
# Installs every Debian 12 package the build, the tests and the demo need.
set -euo pipefail
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
  build-essential cmake ninja-build pkg-config git ca-certificates \
  libgtest-dev libgmock-dev libbenchmark-dev \
  qt6-base-dev qt6-svg-dev libgl-dev \
  libavformat-dev libavcodec-dev libavutil-dev libswresample-dev libswscale-dev ffmpeg \
  libpulse-dev pulseaudio pulseaudio-utils sox \
  libxcb1-dev libxcb-shm0-dev libxcb-damage0-dev libxcb-composite0-dev libxcb-randr0-dev \
  libxcb-xfixes0-dev libxcb-shape0-dev libx11-dev libx11-xcb-dev \
  libva-dev libdrm-dev \
  xvfb x11-utils x11-xserver-utils xdotool dbus \
  openbox trayer imagemagick x11-apps xclip
# The Windows cross build (mingw-w64 with POSIX threads, GoogleTest's sources)
# and Wine to run its tests.
$SUDO apt-get install -y -qq --no-install-recommends \
  g++-mingw-w64-x86-64-posix googletest wine wine64
