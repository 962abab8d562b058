#!/usr/bin/env bash
# Builds xdg-desktop-portal-wlr from Debian's source package with the patch
# beside this script (a compositor drawing in software offers no dmabuf
# format; the portal as packaged then refuses every screen cast) and prints
# the path of the binary. The binary is kept in the user's cache between
# runs, under a name that changes with the package version and the patch.
#   scripts/wayland/build-portal-wlr.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
patch="$here/portal-wlr-shm.patch"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

version=$(dpkg-query -W -f='${Version}' xdg-desktop-portal-wlr 2>/dev/null || true)
[ -n "$version" ] || { echo "build-portal-wlr: xdg-desktop-portal-wlr is not installed" >&2; exit 1; }
key=$(printf '%s\n' "$version" | cat - "$patch" | sha256sum | cut -c1-16)
cache="${XDG_CACHE_HOME:-$HOME/.cache}/frelvanta/portal-wlr-$key"
if [ -x "$cache/xdg-desktop-portal-wlr" ]; then
  echo "$cache/xdg-desktop-portal-wlr"
  exit 0
fi

# The source comes from the mirror the binary packages come from: a deb-src
# entry of the same mirror is added when the system has none.
if ! apt-cache showsrc xdg-desktop-portal-wlr 2>/dev/null | grep -q '^Package:'; then
  src=/etc/apt/sources.list.d/frelvanta-deb-src.sources
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    awk 'BEGIN { RS = ""; ORS = "\n\n" } /(^|\n)Types: deb(\n| )/ && !/security/ { sub(/Types: deb/, "Types: deb-src"); print }' \
      /etc/apt/sources.list.d/debian.sources | $SUDO tee "$src" >/dev/null
  else
    grep -h '^deb ' /etc/apt/sources.list | grep -v security | sed 's/^deb /deb-src /' |
      $SUDO tee /etc/apt/sources.list.d/frelvanta-deb-src.list >/dev/null
  fi
  $SUDO apt-get -o DPkg::Lock::Timeout=600 update -qq >&2
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
(
  cd "$work"
  apt-get source -qq "xdg-desktop-portal-wlr=$version" >&2
  cd xdg-desktop-portal-wlr-*/
  # Another apt may be running (waited for rather than failed on).
  dpkg-checkbuilddeps >/dev/null 2>&1 ||
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 build-dep -y -qq \
      xdg-desktop-portal-wlr >&2
  patch -p1 <"$patch" >&2
  meson setup build --buildtype=release -Dman-pages=disabled -Dsystemd=disabled \
    -Dc_args=-Wno-error=implicit-function-declaration >&2
  ninja -C build >&2
)
mkdir -p "$cache"
install -m 755 "$work"/xdg-desktop-portal-wlr-*/build/xdg-desktop-portal-wlr "$cache/"
echo "$cache/xdg-desktop-portal-wlr"
