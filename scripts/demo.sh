#!/usr/bin/env bash
# Records five seconds of the screen with its sound from the command line and
# prints what the file holds. Installs what is missing first
# (scripts/install-deps.sh):
#   scripts/demo.sh
# Without a display it starts a virtual one showing moving test content;
# without a sound server it starts one and plays a tone into it. The
# executable runs from a private copy with its INI beside it (software
# encoder when the machine has no GPU, diagnostics on), so your own settings
# are not touched.
set -euo pipefail
cd "$(dirname "$0")/.."
[ "${1:-}" = "--inside" ] || scripts/install-deps.sh
BUILD=${BUILD_DIR:-build}
# A fresh build folder is configured without the tests and benchmarks (it
# needs neither GoogleTest nor Google Benchmark); scripts/run-tests.sh turns
# the tests on in it.
[ -f "$BUILD/build.ninja" ] || cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
cmake --build "$BUILD" --target frelvanta fv_testcontent -- -j2

if [ "${1:-}" != "--inside" ]; then
  had_display=0
  had_sound=0
  [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1 && had_display=1
  pactl info >/dev/null 2>&1 && had_sound=1
  export FV_DEMO_HAD_DISPLAY=$had_display FV_DEMO_HAD_SOUND=$had_sound
  exec scripts/test-env.sh "$0" --inside
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/frelvanta-demo.XXXXXX")
content_pid=""
cleanup() { [ -n "$content_pid" ] && kill "$content_pid" 2>/dev/null || true; }
trap cleanup EXIT

cp "$BUILD/src/frelvanta" "$work/frelvanta"
mkdir -p "$work/videos"
{
  printf '[frelvanta]\r\n'
  ls /dev/dri/renderD* >/dev/null 2>&1 || printf 'HardwareEncoder=0\r\n'
  printf 'OutputFolder=%s\r\n' "$work/videos"
  printf 'WriteDiagnostics=1\r\n'
} >"$work/frelvanta.ini"

content_args=()
[ "$FV_DEMO_HAD_DISPLAY" = 1 ] && content_args+=(--no-window)
[ "$FV_DEMO_HAD_SOUND" = 1 ] && content_args+=(--no-audio)
if [ "${#content_args[@]}" -lt 2 ]; then
  "$BUILD/tests/support/fv_testcontent" "${content_args[@]}" >"$work/content.log" 2>&1 &
  content_pid=$!
  for _ in $(seq 100); do grep -q ready "$work/content.log" 2>/dev/null && break; sleep 0.05; done
fi

out="$work/videos/demo.mp4"
echo "Recording 5 seconds of the monitor under the pointer into $out"
set +e
"$work/frelvanta" --mode monitor --duration 5 --output "$out" --audio on --mic off
code=$?
set -e
echo "frelvanta exited with code $code"
[ -f "$out" ] || { echo "no file was written"; exit 1; }

echo
echo "What the file holds:"
probe() { ffprobe -v error -select_streams "$1" -show_entries "$2" -of default=noprint_wrappers=1:nokey=1 "$out" | paste -sd'|'; }
IFS='|' read -r vcodec vprofile vw vh vrate vdur <<<"$(probe v:0 stream=codec_name,profile,width,height,avg_frame_rate,duration)"
echo "  video: $vcodec ($vprofile) ${vw}x${vh}, $(awk -v r="$vrate" 'BEGIN{split(r,a,"/"); printf "%.2f", (a[2]?a[1]/a[2]:0)}') frames per second on average, $vdur s"
if [ -n "$(probe a:0 stream=codec_name)" ]; then
  IFS='|' read -r acodec aprofile arate ach adur <<<"$(probe a:0 stream=codec_name,profile,sample_rate,channels,duration)"
  echo "  audio: $acodec ($aprofile) $arate Hz, $ach channels, $adur s"
else
  echo "  audio: none"
fi
echo "  file:  $(stat -c %s "$out") bytes, $(ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 "$out") s"
echo
echo "Files written:"
ls -l "$work/videos" | sed 's/^/  /'
echo
echo "Diagnostics report ($out.diag.txt):"
tr -d '\r' <"$out.diag.txt" | sed 's/^/  /'
echo
echo "The recording stays in $work"
