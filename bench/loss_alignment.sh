#!/usr/bin/env bash
# Alignment, not just count, under random loss: RUNS Gilbert channels
# (5-40 % loss, burst 1-16, a new seed each) over the default Encode of the
# QCIF sample with 1 and 4 slices and GOP 10 and 250. Every run must give one
# frame per coded picture up to the last one received (a lost end of the
# stream leaves no trace in any stream), and every IDR picture that arrived
# whole after its parameter sets must be bit-identical to the undamaged
# decode's frame at the same index. The same runs again with the sent stream
# given to the decoder (-sent): every run must then give every picture, at
# its exact place, with no guess. Exit status 0 when all runs pass.
# Usage: bench/loss_alignment.sh [BUILD_DIR] [RUNS]   (RUNS default 1000)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/build_dir.sh"
build=$(absolute_build_dir "${1:-$root/build}")
runs=${2:-1000}
harness="$build/tests/tools/decode/loss_alignment_harness"
[[ -x "$harness" ]] || cmake --build "$build" --target loss_alignment_harness >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
echo "== placement from the received stream's numbers"
"$harness" "$runs" "$work" || status=1
echo "== placement from the sent stream (-sent)"
"$harness" "$runs" "$work" sent || status=1
exit $status
