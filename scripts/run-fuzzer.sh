#!/usr/bin/env bash
# Builds one libFuzzer target with clang and runs it for a bounded time.
#   scripts/run-fuzzer.sh <name> [seconds]     (default 60 seconds)
# <name> is a tests/fuzz/<name>_fuzz.cpp file, for example mp4_box_walk.
# Seeds come from tests/fuzz/seeds/<name>/; the corpus grows in a temporary
# folder that is removed afterwards. A crash leaves its input in the build
# folder (crash-*) and the script exits non-zero.
set -euo pipefail
name=${1:?usage: run-fuzzer.sh <name> [seconds]}
seconds=${2:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-fuzz"

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DFRELVANTA_FUZZ=ON -DFRELVANTA_BENCH=OFF >/dev/null
fi
cmake --build "$build" --target "fuzz_$name" -j2

corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
if [ -d "$root/tests/fuzz/seeds/$name" ]; then
  cp "$root/tests/fuzz/seeds/$name"/* "$corpus"/
fi
# Real encoder output as extra seeds for the box walk, when ffmpeg is there.
if [ "$name" = mp4_box_walk ] && command -v ffmpeg >/dev/null; then
  ffmpeg -nostdin -v error -y -f lavfi -i testsrc=d=1:s=64x48:r=5 -c:v libx264 -preset ultrafast \
    -movflags frag_keyframe+empty_moov+default_base_moof "$corpus/ffmpeg-fragmented.mp4" || true
  ffmpeg -nostdin -v error -y -f lavfi -i testsrc=d=1:s=64x48:r=5 -c:v libx264 -preset ultrafast \
    "$corpus/ffmpeg-plain.mp4" || true
fi

cd "$build"
"./tests/fuzz/fuzz_$name" -max_total_time="$seconds" -max_len=65536 -print_final_stats=1 \
  -timeout=10 -rss_limit_mb=1024 "$corpus"
