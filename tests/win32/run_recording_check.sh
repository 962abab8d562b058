#!/usr/bin/env bash
# Runs the frelvanta.exe tests under Wine while the sound server plays a
# tone (with_tone.sh), with the command-line recording written into a fresh
# folder, then decodes that recording with the Linux tools
# (check_recording.py).
#   run_recording_check.sh <test exe>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
FV_RECORDING_OUT=$(winepath -w "$dir" 2>/dev/null)
export FV_RECORDING_OUT
"$here/with_tone.sh" wine "$1"
python3 "$here/check_recording.py" "$dir/monitor.mp4"
