#!/usr/bin/env bash
# Takes the documentation's screenshots of the region overlay, the region
# frame and the start countdown from the real windows, by running the shell's
# end-to-end tests with a screenshot folder (needs a build in build/).
#   scripts/screenshots.sh [folder]   (default: docs/screenshots)
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-docs/screenshots}")
mkdir -p "$out"
cmake --build build --target fv_shell_e2e_tests frelvanta
FV_SCREENSHOT_DIR="$out" scripts/test-env.sh build/tests/e2e/fv_shell_e2e_tests
ls -l "$out"
