#!/usr/bin/env bash
# Runs a Windows test program under Wine while the sound server plays a tone
# (with_tone.sh), with the recordings it makes copied into a fresh folder
# (FV_RECORDING_OUT), then decodes them with the Linux tools
# (check_recording.py).
#   run_recording_check.sh <test exe> <recording>...
# Each recording is a name the test writes as <name>.mp4: monitor (the
# command-line recording), recovered (the killed one the next start
# recovered), shortcut (the one started by a shortcut and the countdown).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exe=$1
shift
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
FV_RECORDING_OUT=$(winepath -w "$dir" 2>/dev/null)
export FV_RECORDING_OUT
"$here/with_tone.sh" wine "$exe"
args=()
for name in "$@"; do args+=("$name=$dir/$name.mp4"); done
python3 "$here/check_recording.py" "${args[@]}"
