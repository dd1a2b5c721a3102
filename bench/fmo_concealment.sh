#!/usr/bin/env bash
# Concealment on slice-group streams: mean Y-PSNR at 10 % NAL-unit loss
# (Gilbert model, mean burst 2, SEEDS seeds) for each concealment pair,
# dispersed slice groups (our encoder and decoder) against raster slices
# (libx264 and libavcodec) at the same target bitrate, on the QCIF and CIF
# sample sequences.
# Usage: bench/fmo_concealment.sh [BUILD_DIR] [SEEDS] [GROUPS]
set -euo pipefail
build=$(realpath "${1:-build}")
seeds=${2:-5}
groups=${3:-4}
harness="$build/tests/tools/decode/fmo_concealment_harness"
[[ -x "$harness" ]] || cmake --build "$build" --target fmo_concealment_harness kestrune-encode >/dev/null
"$harness" "$build/tools/encode/kestrune-encode" 176 144 150 "$seeds" "$groups"
"$harness" "$build/tools/encode/kestrune-encode" 352 288 90 "$seeds" "$groups"
