#!/usr/bin/env bash
# A/V alignment of a Windows recording: the Linux test content flashes the
# whole screen white and clicks at the same instant once a second (built
# here from its source with the host's compiler); frelvanta.exe records the
# monitor under Wine, with the sound server's monitor input standing for the
# system's sound; check_recording.py then finds the flashes and the clicks
# in the file with the Linux tools.
#   run_av_check.sh <frelvanta.exe>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d)
content=
cleanup() {
  [ -n "$content" ] && kill "$content" 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT
# shellcheck disable=SC2046
cc -O2 -o "$dir/fv_testcontent" "$here/../support/fv_testcontent.c" \
  $(pkg-config --cflags --libs x11 libpulse-simple) -lpthread -lm
# The monitor input as the system's sound names it: its description.
monitor=$(LC_ALL=C pactl list sources |
  awk '/^\tName: /{mon = ($2 ~ /\.monitor$/)} mon && /^\tDescription: /{sub(/^\tDescription: /, ""); print; exit}')
[ -n "$monitor" ] || { echo "run_av_check: no monitor input; run under scripts/test-env.sh" >&2; exit 1; }
cp "$1" "$dir/frelvanta.exe"
printf '[frelvanta]\r\nVideoMaxWidth=640\r\nVideoMaxHeight=360\r\nShowRecordingBorder=0\r\nOpenFolder=0\r\nSystemAudioDeviceId=%s\r\n' \
  "$monitor" >"$dir/frelvanta.ini"

"$dir/fv_testcontent" --flash-every 1000 >"$dir/content.log" 2>&1 &
content=$!
for _ in $(seq 300); do grep -q flashing "$dir/content.log" && break; sleep 0.1; done
grep -q flashing "$dir/content.log" || { echo "run_av_check: the test content never flashed" >&2; exit 1; }

out=$(winepath -w "$dir/av.mp4" 2>/dev/null)
(cd "$dir" && wine ./frelvanta.exe --mode monitor --duration 6 --audio on --mic off --output "$out")
python3 "$here/check_recording.py" av="$dir/av.mp4"
