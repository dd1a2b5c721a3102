#!/usr/bin/env bash
# Peak memory of the encoder on a long input against a short one of the same
# size (the window's default options): input is read a frame at a time, so
# the ratio should stay near 1 however long the file is.
# Usage: bench/encode_memory.sh [BUILD_DIR] [LONG_FRAMES]   (target: ratio <= 1.1)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/build_dir.sh"
build=$(absolute_build_dir "${1:-$root/build}")
long_frames=${2:-1500}
command -v /usr/bin/time >/dev/null || { echo "needs /usr/bin/time (Debian package time)" >&2; exit 1; }
source "$(dirname "$0")/encode_common.sh"
"$make_sample" --width 352 --height 288 --frames 150 -o short_352x288.yuv
"$make_sample" --width 352 --height 288 --frames "$long_frames" -o long_352x288.yuv

peak_kib() { /usr/bin/time -f %M "$encoder" "${window_options[@]}" "$1" -o out.264 352x288 2>&1 >/dev/null | tail -1; }

short=$(peak_kib short_352x288.yuv)
long=$(peak_kib long_352x288.yuv)
printf 'peak memory: 150 frames %d KiB (%d MB input), %d frames %d KiB (%d MB input)\n' \
  "$short" $(($(stat -c %s short_352x288.yuv) / 1000000)) "$long_frames" "$long" $(($(stat -c %s long_352x288.yuv) / 1000000))
printf 'memory ratio long/short: %.3f  (target <= 1.1)\n' "$(echo "$long / $short" | bc -l)"
