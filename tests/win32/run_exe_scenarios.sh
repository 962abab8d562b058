#!/usr/bin/env bash
# frelvanta.exe under Wine with Linux programs beside it, then the Linux
# tools on its files (check_recording.py):
# - A/V alignment: the Linux test content flashes the whole screen white and
#   clicks at the same instant once a second (built here from its source with
#   the host's compiler) while the monitor is recorded, with the sound
#   server's monitor input standing for the system's sound;
# - the sound server goes away two seconds into a recording and comes back
#   only after it: the console says "Sound Interrupted", the run ends with 0
#   and the sound track still runs to the end (only where scripts/test-env.sh
#   started the sound server and can take it away).
#   run_exe_scenarios.sh <frelvanta.exe>
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
[ -n "$monitor" ] || { echo "run_exe_scenarios: no monitor input; run under scripts/test-env.sh" >&2; exit 1; }
cp "$1" "$dir/frelvanta.exe"
printf '[frelvanta]\r\nVideoMaxWidth=640\r\nVideoMaxHeight=360\r\nShowRecordingBorder=0\r\nOpenFolder=0\r\nWriteDiagnostics=1\r\nSystemAudioDeviceId=%s\r\n' \
  "$monitor" >"$dir/frelvanta.ini"
record() {  # record <name> <seconds>: the monitor into <name>.mp4, console into <name>.txt, exit code into <name>.exit
  local out rc=0
  out=$(winepath -w "$dir/$1.mp4" 2>/dev/null)
  (cd "$dir" && wine ./frelvanta.exe --mode monitor --duration "$2" --audio on --mic off --output "$out") \
    >"$dir/$1.txt" 2>&1 || rc=$?
  echo "$rc" >"$dir/$1.exit"
}

"$dir/fv_testcontent" --flash-every 1000 >"$dir/content.log" 2>&1 &
content=$!
for _ in $(seq 300); do grep -q flashing "$dir/content.log" && break; sleep 0.1; done
grep -q flashing "$dir/content.log" || { echo "run_exe_scenarios: the test content never flashed" >&2; exit 1; }
record av 6
kill "$content"
content=
[ "$(cat "$dir/av.exit")" = 0 ] || { cat "$dir/av.txt" >&2; exit 1; }
checks=(av="$dir/av.mp4")

if [ -n "${FV_SOUND_SERVER_PIDFILE:-}" ]; then
  record lost 6 &
  recorder=$!
  for _ in $(seq 600); do [ -f "$dir/lost.tmp.mp4" ] && break; sleep 0.1; done
  sleep 2
  "$FV_TEST_ENV_SCRIPT" --sound-server kill
  wait "$recorder" || true
  "$FV_TEST_ENV_SCRIPT" --sound-server start
  cat "$dir/lost.txt"
  [ "$(cat "$dir/lost.exit")" = 0 ] || { echo "run_exe_scenarios: the run ended with $(cat "$dir/lost.exit")" >&2; exit 1; }
  grep -q "^Sound Interrupted: " "$dir/lost.txt" || { echo "run_exe_scenarios: no sound outcome on the console" >&2; exit 1; }
  checks+=(lost="$dir/lost.mp4")
else
  echo "run_exe_scenarios: the sound server is not ours to take away; that case is left out"
fi
python3 "$here/check_recording.py" "${checks[@]}"
