#!/usr/bin/env bash
# Installs the Debian 12 (or Ubuntu 24.04) packages that the build, the demo
# and the Debian package need, when any of them is missing: it says which
# ones, and uses sudo when not run as root. When every package is there it
# installs nothing and needs no network.
#   scripts/install-deps.sh [--tests]
# --tests (scripts/run-tests.sh) adds what only the tests need: GoogleTest,
# Google Benchmark, the desktop tools they drive, PipeWire, and the Windows
# cross compiler with Wine for the Windows build's tests.
set -euo pipefail
tests=0
[ "${1:-}" = "--tests" ] && tests=1
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
  qt6-base-dev qt6-svg-dev libgl-dev \
  libavformat-dev libavcodec-dev libavutil-dev libswresample-dev libswscale-dev ffmpeg \
  libpulse-dev pulseaudio pulseaudio-utils sox \
  libxcb1-dev libxcb-shm0-dev libxcb-damage0-dev libxcb-composite0-dev libxcb-randr0-dev \
  libxcb-xfixes0-dev libxcb-shape0-dev libx11-dev libx11-xcb-dev \
  libva-dev libdrm-dev \
  libcurl4-openssl-dev libpipewire-0.3-dev \
  xvfb x11-utils dbus
[ "$tests" = 1 ] || exit 0
# The tests: GoogleTest and Google Benchmark, the update server (python3,
# openssl), PipeWire, the desktop the interactive tests drive; then the
# Windows cross build (mingw-w64 with POSIX threads, GoogleTest's sources,
# bison and flex for the HLSL compiler it builds once, nasm for the bundled
# encoder's assembly, scripts/build-ffmpeg-windows.sh) and Wine to run its
# tests.
install_missing \
  libgtest-dev libgmock-dev libbenchmark-dev \
  openssl python3 pipewire wireplumber pipewire-pulse \
  x11-xserver-utils xdotool openbox trayer imagemagick x11-apps xclip \
  g++-mingw-w64-x86-64-posix googletest bison flex wine wine64 nasm
# The Wayland desktop of the portal tests (scripts/wayland/session.sh), its
# tools (waybar is the tray host of the tray tests) and the peer pipeline of
# the benchmark; the patched portal backend
# is built from Debian's source package by scripts/wayland/build-portal-wlr.sh.
install_missing \
  sway acl xdg-desktop-portal xdg-desktop-portal-wlr grim foot waybar qt6-wayland libwayland-dev \
  gstreamer1.0-pipewire gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good \
  gstreamer1.0-plugins-ugly
