#!/usr/bin/env bash
# Our Baseline decoder against libavcodec, one thread each, on the same
# libx264 Baseline streams of the sample sequence (QCIF and CIF, 300 frames):
# decode CPU time ratio (target: ours at least 0.5 of libavcodec's speed) and
# peak memory of each decoding process (the same libraries loaded in both).
# Usage: bench/baseline_decoder_speed.sh [BUILD_DIR] [ROUNDS]
set -euo pipefail

build=$(realpath "${1:-build}")
rounds=${2:-3}
harness="$build/tests/tools/baseline_decoder/baseline_decoder_harness"
[[ -x "$harness" ]] || cmake --build "$build" --target baseline_decoder_harness >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for size in 176x144 352x288; do
  w=${size%x*}; h=${size#*x}
  "$harness" encode "$w" "$h" 300 "$work/$size.264"
  ours=0; theirs=0
  for ((round = 1; round <= rounds; round++)); do
    read -r _ f_ours _ c_ours _ m_ours < <("$harness" ours "$work/$size.264")
    read -r _ f_ref _ c_ref _ m_ref < <("$harness" libavcodec "$work/$size.264")
    ours=$(echo "$ours + $c_ours" | bc -l); theirs=$(echo "$theirs + $c_ref" | bc -l)
    printf '%s round %d: ours %.3f s cpu, libavcodec %.3f s cpu\n' "$size" "$round" "$c_ours" "$c_ref"
  done
  printf '%s: %d frames; speed ratio ours/libavcodec by cpu time %.3f (target >= 0.5); peak memory ours %d KB, libavcodec %d KB (whole process)\n' \
    "$size" "$f_ours" "$(echo "$theirs / $ours" | bc -l)" "$m_ours" "$m_ref"
done
