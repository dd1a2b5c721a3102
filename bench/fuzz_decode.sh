#!/usr/bin/env bash
# The decode path's fuzz target (scripts/fuzz.sh) for longer: 30 minutes by
# default, one worker process that goes on after a finding, so one run can
# report several. Prints libFuzzer's progress (cov: covered edges, ft:
# features, corp: corpus size) and lists the inputs that crashed, hung or ran
# out of memory in build-fuzz/fuzz-artifacts/.
# Usage: bench/fuzz_decode.sh [SECONDS]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-1800}
nice "$root/scripts/fuzz.sh" "$seconds" decode_fuzz -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1
status=$?
echo "findings:"
ls -l "$root/build-fuzz/fuzz-artifacts/" 2>/dev/null | grep -E "crash-|timeout-|oom-|leak-" || echo "  none"
exit $status
