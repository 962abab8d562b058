#!/usr/bin/env bash
# Runs the Windows writer test under Wine into a fresh folder, then decodes
# what it wrote with the Linux tools (check_written_media.py).
#   run_writer_check.sh <test exe>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
FV_WRITER_OUT=$(winepath -w "$dir" 2>/dev/null)
export FV_WRITER_OUT
wine "$1"
python3 "$here/check_written_media.py" "$dir"
