#!/usr/bin/env bash
# Runs a command with a display and a sound server. Uses the ones the user
# has; otherwise starts a private Xvfb and a private PulseAudio with a null
# sink "rec" (32-bit float, 48 kHz, stereo) as the default sink, and stops
# them afterwards.
#   scripts/test-env.sh <command> [args...]
# FV_SOUND_SERVER=pipewire starts a private PipeWire with its PulseAudio
# server instead (always private: that is what such a run is for), under its
# own D-Bus session and runtime folder.
#
# FV_SESSION=wayland runs the command in a private Wayland desktop instead
# (sway, PipeWire and the screen-cast portal, as an unprivileged user; see
# scripts/wayland/session.sh), without an X server.
#
# Tests that take the sound server away and bring it back call, from inside
# such a run (only when this script started the server):
#   $FV_TEST_ENV_SCRIPT --sound-server kill|start
# The running server's process id is in the file $FV_SOUND_SERVER_PIDFILE.
set -euo pipefail
if [ "${FV_SESSION:-x11}" = wayland ]; then
  exec "$(dirname "$0")/wayland/session.sh" "$@"
fi
FV_SOUND_SERVER=${FV_SOUND_SERVER:-pulseaudio}
FV_TEST_ENV_SCRIPT=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
export FV_SOUND_SERVER FV_TEST_ENV_SCRIPT

wait_for_pactl() {
  for _ in $(seq 100); do pactl info >/dev/null 2>&1 && return 0; sleep 0.1; done
  echo "test-env: the sound server did not come up" >&2
  return 1
}

# The null sink every audio test records from, as the default output.
add_null_sink() {
  if [ "$FV_SOUND_SERVER" = pipewire ]; then
    pactl load-module module-null-sink sink_name=rec format=float32le rate=48000 channels=2 >/dev/null
  fi
  pactl set-default-sink rec
}

start_sound_server() {
  if [ "$FV_SOUND_SERVER" = pipewire ]; then
    # It does not always come up at the first try (seen once in a few dozen
    # starts, with nothing in the way): one that does not answer within
    # ten seconds is ended and started again.
    local attempt
    for attempt in 1 2 3; do
      pipewire-pulse >/dev/null 2>&1 &
      echo $! >"$FV_SOUND_SERVER_PIDFILE"
      wait_for_pactl && break
      kill "$(cat "$FV_SOUND_SERVER_PIDFILE")" 2>/dev/null || true
      [ "$attempt" = 3 ] && return 1
    done
  else
    pulseaudio -n --daemonize=yes --exit-idle-time=-1 --disallow-exit \
      -L module-native-protocol-unix \
      -L "module-null-sink sink_name=rec format=float32le rate=48000 channels=2" >/dev/null 2>&1
    wait_for_pactl
  fi
  add_null_sink
}

kill_sound_server() {
  local pid
  pid=$(cat "$FV_SOUND_SERVER_PIDFILE" 2>/dev/null || true)
  [ -n "$pid" ] || return 0
  kill -CONT "$pid" 2>/dev/null || true
  kill -KILL "$pid" 2>/dev/null || true
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  # A server killed this way leaves its socket and pid file behind.
  if [ "$FV_SOUND_SERVER" = pipewire ]; then
    rm -f "$FV_SOUND_SERVER_PIDFILE"
  else
    rm -f "$PULSE_RUNTIME_PATH/pid" "$PULSE_RUNTIME_PATH/native"
  fi
}

if [ "${1:-}" = "--sound-server" ]; then
  [ -n "${FV_SOUND_SERVER_PIDFILE:-}" ] || { echo "test-env: no private sound server here" >&2; exit 2; }
  case "${2:-}" in
    kill) kill_sound_server ;;
    start) start_sound_server ;;
    *) echo "usage: $0 --sound-server kill|start" >&2; exit 2 ;;
  esac
  exit 0
fi

# PipeWire talks to its session manager over D-Bus: the whole run goes into
# a private session bus.
if [ "$FV_SOUND_SERVER" = pipewire ] && [ -z "${FV_IN_DBUS_SESSION:-}" ]; then
  export FV_IN_DBUS_SESSION=1
  exec dbus-run-session -- "$0" "$@"
fi

cleanup() {
  [ -n "${FV_XVFB_PID:-}" ] && kill "$FV_XVFB_PID" 2>/dev/null || true
  if [ -n "${FV_PULSE_STARTED:-}" ]; then
    if [ "$FV_SOUND_SERVER" = pipewire ]; then
      kill_sound_server
      for pid in ${FV_PIPEWIRE_PIDS:-}; do kill "$pid" 2>/dev/null || true; done
      for pid in ${FV_PIPEWIRE_PIDS:-}; do wait "$pid" 2>/dev/null || true; done
    else
      pulseaudio --kill 2>/dev/null || kill_sound_server
    fi
  fi
  [ -n "${FV_PULSE_DIR:-}" ] && rm -rf "$FV_PULSE_DIR" || true
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
  # -noreset: the server keeps its state when the last client leaves (as
  # between two tests), so a background set by one test is not cleared
  # under the next, and a client connecting then is not turned away.
  # FV_X_RESET=1 leaves it out, for the Windows tests under Wine: their
  # clipboard check hung (2 runs of 4) on a server that had served Wine
  # processes before and was not reset in between, and never otherwise.
  # -s 0: no screen saver blanking the screen in a long run without input.
  noreset=-noreset
  [ "${FV_X_RESET:-0}" = 1 ] && noreset=
  # -displayfd: the server takes the first free display number itself and
  # writes it to us, so two runs started at once (run-tests.sh starts the
  # Windows pass beside the Linux one) never end up on one display.
  displayfd=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1920x1080x24 +extension Composite +extension DAMAGE +extension RANDR \
    -nolisten tcp $noreset -s 0 3>"$displayfd" >/dev/null 2>&1 &
  FV_XVFB_PID=$!
  for _ in $(seq 100); do [ -s "$displayfd" ] && break; sleep 0.1; done
  export DISPLAY=":$(head -n 1 "$displayfd")"
  rm -f "$displayfd"
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
fi

if [ "$FV_SOUND_SERVER" = pipewire ]; then
  FV_PULSE_DIR=$(mktemp -d)
  chmod 700 "$FV_PULSE_DIR"
  unset PULSE_SERVER PULSE_RUNTIME_PATH
  export XDG_RUNTIME_DIR="$FV_PULSE_DIR"
  # No client may start a PulseAudio daemon of its own while PipeWire's
  # server is down (between a test's kill and start, or before it is up).
  printf 'autospawn = no\n' >"$FV_PULSE_DIR/client.conf"
  export PULSE_CLIENTCONFIG="$FV_PULSE_DIR/client.conf"
  export FV_SOUND_SERVER_PIDFILE="$FV_PULSE_DIR/fv-sound-server.pid"
  FV_PULSE_STARTED=1
  pipewire >/dev/null 2>&1 &
  FV_PIPEWIRE_PIDS="$!"
  for _ in $(seq 50); do [ -S "$XDG_RUNTIME_DIR/pipewire-0" ] && break; sleep 0.1; done
  # The session manager links streams to devices; it must run before any
  # sink or stream exists, or those stay unlinked and carry nothing.
  wireplumber >/dev/null 2>&1 &
  FV_PIPEWIRE_PIDS="$FV_PIPEWIRE_PIDS $!"
  sleep 1
  start_sound_server
  pactl info | grep -i '^Server Name' >&2 || true
elif ! pactl info >/dev/null 2>&1; then
  FV_PULSE_DIR=$(mktemp -d)
  export PULSE_RUNTIME_PATH="$FV_PULSE_DIR"
  printf 'autospawn = no\n' >"$FV_PULSE_DIR/client.conf"
  export PULSE_CLIENTCONFIG="$FV_PULSE_DIR/client.conf"
  export FV_SOUND_SERVER_PIDFILE="$FV_PULSE_DIR/pid"
  FV_PULSE_STARTED=1
  start_sound_server
fi

"$@"
