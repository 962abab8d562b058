#!/usr/bin/env bash
# Runs a command (a Windows test under Wine) while the sound server's
# default output plays a 1 kHz sine at amplitude 0.5 (FV_TONE_PLAYING=1):
#   with_tone.sh <command> [args...]
set -euo pipefail
sox -n -r 48000 -c 2 -b 16 -t wav - synth 600 sine 1000 vol 0.5 2>/dev/null | paplay &
player=$!
trap 'kill $player 2>/dev/null || true' EXIT
FV_TONE_PLAYING=1 "$@"
