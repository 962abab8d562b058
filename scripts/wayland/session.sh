#!/usr/bin/env bash
# Runs a command inside a private Wayland desktop: sway on the headless
# backend (one 1280x720 output, HEADLESS-1, drawn in software), PipeWire with
# WirePlumber and its PulseAudio server (a null sink "rec" as the default
# output), and xdg-desktop-portal with the wlroots backend, which shares the
# output without asking. Everything runs under a private D-Bus session as an
# unprivileged user (sway refuses root), with a private runtime folder and
# home; the command sees WAYLAND_DISPLAY, SWAYSOCK, XDG_RUNTIME_DIR,
# FV_CHOOSER_LOG and FV_PORTAL_WLR_PID (below) and no DISPLAY. scripts/test-env.sh starts it for FV_SESSION=wayland.
#   scripts/wayland/session.sh <command> [args...]
# FV_WAYLAND_UID: the user to run as (65534, nobody, unless given). The
# command's files must be readable by that user, and what it writes must go
# to a folder that user may write ($HOME or $FV_WAYLAND_DIR here).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
uid=${FV_WAYLAND_UID:-65534}

if [ "${1:-}" != "--inside" ]; then
  if [ "$(id -u)" = 0 ]; then
    # The patched portal backend is built (or taken from the cache) as the
    # user who may install its build dependencies.
    portal=$("$here/build-portal-wlr.sh")
    dir=$(mktemp -d)
    chmod 700 "$dir"
    install -m 755 "$portal" "$dir/xdg-desktop-portal-wlr"
    mkdir -m 700 "$dir/run" "$dir/home"
    chown -R "$uid:$uid" "$dir"
    trap 'rm -rf "$dir"' EXIT
    reach() { setpriv --reuid="$uid" --regid="$uid" --clear-groups test -x "$1"; }
    if [ -e "$1" ] && ! reach "$1"; then
      # A clone inside a private folder (a home, a mktemp folder): that user
      # is let through the folders above it (passing only, not listing), by
      # an access-control entry for that user alone.
      d=$(dirname "$(readlink -f "$1")")
      while [ "$d" != / ]; do
        # Others may already pass (x, or t on a sticky folder such as /tmp):
        # nothing to add, and an entry of its own would replace what that
        # user has as one of the others.
        case $(stat -c %A "$d") in
          *x | *t) ;;
          *) setfacl -m "u:$uid:x" "$d" 2>/dev/null && echo "wayland-session: uid $uid may now pass through $d" >&2 ;;
        esac
        d=$(dirname "$d")
      done
    fi
    if [ -e "$1" ] && ! reach "$1"; then
      echo "wayland-session: $1 is out of reach of uid $uid (the build tree must be readable by it)" >&2
      exit 1
    fi
    # Not exec: the folder is removed afterwards.
    setpriv --reuid="$uid" --regid="$uid" --clear-groups \
      env -u DISPLAY -u WAYLAND_DISPLAY -u SWAYSOCK -u DBUS_SESSION_BUS_ADDRESS -u PULSE_SERVER \
      -u PULSE_RUNTIME_PATH -u PULSE_CLIENTCONFIG -u XAUTHORITY HOME="$dir/home" FV_WAYLAND_DIR="$dir" \
      XDG_RUNTIME_DIR="$dir/run" FV_PORTAL_WLR="$dir/xdg-desktop-portal-wlr" \
      dbus-run-session -- "$here/session.sh" --inside "$@"
    exit $?
  fi
  # Already unprivileged: the session runs as this user.
  dir=$(mktemp -d)
  trap 'rm -rf "$dir"' EXIT
  mkdir -m 700 "$dir/run" "$dir/home"
  env -u DISPLAY -u WAYLAND_DISPLAY -u SWAYSOCK -u DBUS_SESSION_BUS_ADDRESS -u PULSE_SERVER \
    -u PULSE_RUNTIME_PATH -u PULSE_CLIENTCONFIG HOME="$dir/home" FV_WAYLAND_DIR="$dir" XDG_RUNTIME_DIR="$dir/run" \
    FV_PORTAL_WLR="${FV_PORTAL_WLR:-$("$here/build-portal-wlr.sh")}" \
    dbus-run-session -- "$here/session.sh" --inside "$@"
  exit $?
fi
shift

mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$HOME/.config"
chmod 700 "$XDG_RUNTIME_DIR"
log="$FV_WAYLAND_DIR/log"
mkdir -p "$log"
pids=()
cleanup() {
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[$i]}" 2>/dev/null || true; done
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do wait "${pids[$i]}" 2>/dev/null || true; done
}
trap cleanup EXIT
fail() {
  echo "wayland-session: $1" >&2
  tail -n 20 "$log"/* >&2 2>/dev/null || true
  exit 1
}

# Sound first: the session manager must run before any sink or stream exists.
printf 'autospawn = no\n' >"$FV_WAYLAND_DIR/client.conf"
export PULSE_CLIENTCONFIG="$FV_WAYLAND_DIR/client.conf"
pipewire >"$log/pipewire" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -S "$XDG_RUNTIME_DIR/pipewire-0" ] && break; sleep 0.1; done
wireplumber >"$log/wireplumber" 2>&1 &
pids+=($!)
sleep 1
# It does not always come up at the first try (as in scripts/test-env.sh):
# one that does not answer within ten seconds is ended and started again.
for attempt in 1 2 3; do
  pipewire-pulse >>"$log/pipewire-pulse" 2>&1 &
  pulse_pid=$!
  for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
  pactl info >/dev/null 2>&1 && break
  kill "$pulse_pid" 2>/dev/null || true
  wait "$pulse_pid" 2>/dev/null || true
  rm -f "$XDG_RUNTIME_DIR/pulse/native" "$XDG_RUNTIME_DIR/pulse/pid"
done
pids+=($pulse_pid)
pactl info >/dev/null 2>&1 || fail "the sound server did not come up"
pactl load-module module-null-sink sink_name=rec format=float32le rate=48000 channels=2 >/dev/null
pactl set-default-sink rec

# The compositor: no input devices, software drawing, one output.
cat >"$FV_WAYLAND_DIR/sway.conf" <<CONF
output HEADLESS-1 mode 1280x720@60Hz position 0 0 bg #203040 solid_color
default_border none
default_floating_border none
focus_follows_mouse no
xwayland disable
CONF
export WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman XDG_CURRENT_DESKTOP=sway
export XDG_SESSION_TYPE=wayland
sway -c "$FV_WAYLAND_DIR/sway.conf" >"$log/sway" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  sock=$(ls "$XDG_RUNTIME_DIR" 2>/dev/null | grep -m1 '^wayland-[0-9]*$' || true)
  ipc=$(ls "$XDG_RUNTIME_DIR" 2>/dev/null | grep -m1 '^sway-ipc' || true)
  [ -n "$sock" ] && [ -n "$ipc" ] && break
  sleep 0.1
done
[ -n "${sock:-}" ] && [ -n "${ipc:-}" ] || fail "sway did not come up"
export WAYLAND_DISPLAY=$sock SWAYSOCK="$XDG_RUNTIME_DIR/$ipc"
for _ in $(seq 50); do swaymsg -t get_outputs 2>/dev/null | grep -q HEADLESS-1 && break; sleep 0.1; done
dbus-update-activation-environment WAYLAND_DISPLAY SWAYSOCK XDG_CURRENT_DESKTOP XDG_SESSION_TYPE \
  XDG_RUNTIME_DIR 2>/dev/null || true

# The portal: the wlroots backend (the patched build, started before the
# portal so that it holds its bus name and the packaged one is never
# activated) shares HEADLESS-1 without a chooser.
# The chooser picks HEADLESS-1 as chooser_type=none would, and notes each
# time it was asked in $FV_CHOOSER_LOG, so a test can tell a restored share
# (no question) from a chosen one.
export FV_CHOOSER_LOG="$FV_WAYLAND_DIR/chooser.log"
: >"$FV_CHOOSER_LOG"
printf '#!/bin/sh\necho asked >>"%s"\necho HEADLESS-1\n' "$FV_CHOOSER_LOG" >"$FV_WAYLAND_DIR/chooser"
chmod 755 "$FV_WAYLAND_DIR/chooser"
cat >"$FV_WAYLAND_DIR/portal-wlr.ini" <<CONF
[screencast]
output_name=HEADLESS-1
chooser_type=simple
chooser_cmd=$FV_WAYLAND_DIR/chooser
max_fps=60
CONF
"$FV_PORTAL_WLR" -c "$FV_WAYLAND_DIR/portal-wlr.ini" -l ${FV_PORTAL_WLR_LOG:-INFO} >"$log/portal-wlr" 2>&1 &
pids+=($!)
# A test ends the shares from the compositor's side by ending this process.
export FV_PORTAL_WLR_PID=$!
for _ in $(seq 50); do
  busctl --user list 2>/dev/null | grep -q org.freedesktop.impl.portal.desktop.wlr && break
  sleep 0.1
done
/usr/libexec/xdg-desktop-portal >"$log/portal" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  busctl --user list 2>/dev/null | grep -q '^org.freedesktop.portal.Desktop' && break
  sleep 0.1
done
busctl --user list 2>/dev/null | grep -q '^org.freedesktop.portal.Desktop' || fail "the portal did not come up"

status=0
"$@" || status=$?
exit $status
