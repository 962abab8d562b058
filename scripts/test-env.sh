#!/usr/bin/env bash
# Runs a command with a display and a sound server. Uses the ones the user
# has; otherwise starts a private Xvfb and a private PulseAudio with a null
# sink (32-bit float, 48 kHz, stereo) as the default sink, and stops them
# afterwards.
#   scripts/test-env.sh <command> [args...]
set -euo pipefail
cleanup() {
  [ -n "${FV_XVFB_PID:-}" ] && kill "$FV_XVFB_PID" 2>/dev/null || true
  if [ -n "${FV_PULSE_STARTED:-}" ]; then pulseaudio --kill 2>/dev/null || true; fi
  [ -n "${FV_PULSE_DIR:-}" ] && rm -rf "$FV_PULSE_DIR" || true
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
  for n in $(seq 90 120); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1920x1080x24 +extension Composite +extension DAMAGE +extension RANDR \
      -nolisten tcp >/dev/null 2>&1 &
    FV_XVFB_PID=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
    break
  done
fi

if ! pactl info >/dev/null 2>&1; then
  FV_PULSE_DIR=$(mktemp -d)
  export PULSE_RUNTIME_PATH="$FV_PULSE_DIR"
  pulseaudio -n --daemonize=yes --exit-idle-time=-1 --disallow-exit \
    -L module-native-protocol-unix \
    -L "module-null-sink sink_name=rec format=float32le rate=48000 channels=2" >/dev/null 2>&1
  FV_PULSE_STARTED=1
  for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
  pactl set-default-sink rec
fi

"$@"
