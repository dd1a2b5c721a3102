#!/usr/bin/env bash
# Our Baseline decoder on randomly damaged streams (bit flips, truncated,
# dropped and duplicated NAL units, rewritten slice header bytes such as
# slice_group_change_cycle): COUNT slice-group streams (map types 0-6) and
# COUNT libx264 Baseline streams, in an AddressSanitizer + UBSan build, which
# stops at the first fault. Prints the number of pictures, broken slices and
# the slowest stream's decoding time (a hang would show there, or never end).
# Usage: bench/damaged_streams.sh [COUNT] [SEED] [BUILD_DIR]   (default 1000 1 build-asan)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-1000}
seed=${2:-1}
build=${3:-$root/build-asan}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" \
  "-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined -fno-sanitize-recover=undefined" \
  "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined" >/dev/null
cmake --build "$build" -j "$(nproc)" --target baseline_decoder_damaged_streams >/dev/null
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  timeout 1800 "$build/tests/tools/baseline_decoder/baseline_decoder_damaged_streams" "$count" "$seed"
