#!/usr/bin/env bash
# The decode path's fuzz target (scripts/fuzz.sh) for longer: 30 minutes by
# default. A finding ends one libFuzzer run; the next goes on from the corpus
# until the time is up, so one call can report several findings. Prints
# libFuzzer's progress (cov: covered edges, ft: features, corp: corpus
# size, exec/s) and at the end the executions, the coverage reached and the
# inputs that crashed, hung or ran out of memory (build-fuzz/fuzz-artifacts/).
# Usage: bench/fuzz_decode.sh [SECONDS]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-1800}
log=$(mktemp)
trap 'rm -f "$log"' EXIT
end=$((SECONDS + seconds))
runs=0
while (( end - SECONDS > 10 )); do
  nice "$root/scripts/fuzz.sh" $((end - SECONDS)) decode_fuzz 2>&1 | tee -a "$log" | grep -E "^#[0-9]+.*(pulse|DONE)|ERROR|SUMMARY|Test unit written"
  runs=$((runs + 1))
done
executions=$(grep -o "stat::number_of_executed_units: [0-9]*" "$log" | awk '{s += $2} END {print s + 0}')
echo "libFuzzer runs: $runs, executions: $executions"
echo "last coverage: $(grep -E '^#[0-9]+' "$log" | tail -n 1 | grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+')"
echo "findings:"
ls "$root/build-fuzz/fuzz-artifacts/" 2>/dev/null | grep -E "^(crash|timeout|oom|leak|slow-unit)-" || echo "  none"
