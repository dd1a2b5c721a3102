#!/usr/bin/env bash
# Analyzer mode 0 on a large stream against plainly reading the same file, and
# the analyzer's peak memory for two stream sizes (it must not grow with the
# stream). Usage: bench/analyze_throughput.sh [BUILD_DIR] [MEGABYTES]
# The big streams are made in a temporary directory and removed afterwards.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
megabytes=${2:-200}
analyzer=$build/tools/analyze/kestrune-analyze
[[ -x $analyzer ]] || { echo "build kestrune-analyze first ($analyzer)" >&2; exit 1; }

work=$(mktemp -d /tmp/kestrune_bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

flags=$(pkg-config --cflags --libs x264)
g++ -O2 -std=c++20 -I"$root" "$root/bench/analyze_make_stream.cpp" "$root/tests/tools/bitstream/encoded_stream.cpp" \
    $flags -o "$work/make_stream"
g++ -O2 -std=c++20 "$root/bench/analyze_read_file.cpp" -o "$work/read_file"

"$work/make_stream" 300 "$work/one.264"
one=$(stat -c %s "$work/one.264")
copies=$(( (megabytes * 1024 * 1024 + one - 1) / one ))
for ((i = 0; i < copies; ++i)); do cat "$work/one.264"; done >"$work/big.264"
for ((i = 0; i < 2; ++i)); do cat "$work/big.264"; done >"$work/double.264"
big=$(stat -c %s "$work/big.264")
echo "stream: $copies copies of a $one-byte stream = $big bytes"

seconds() { # runs a command (output discarded), prints the best wall time of 3 runs
  local best=
  for _ in 1 2 3; do
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null || { echo "failed: $*" >&2; exit 1; }
    end=$(date +%s.%N)
    best=$(echo "$start $end ${best:-}" | awk '{t = $2 - $1; if ($3 != "" && $3 < t) t = $3; printf "%.4f", t}')
  done
  echo "$best"
}

cd "$work"
"$work/read_file" big.264 >/dev/null  # into the page cache
read_time=$(seconds "$work/read_file" big.264)
analyze_time=$(seconds "$analyzer" big.264 0)
awk -v b="$big" -v r="$read_time" -v a="$analyze_time" 'BEGIN {
  printf "plain read:      %.3f s  %.0f MB/s\n", r, b / r / 1e6
  printf "analyzer mode 0: %.3f s  %.0f MB/s\n", a, b / a / 1e6
  printf "throughput ratio analyzer/read: %.2f (target >= 0.5)\n", r / a
}'
head -c 120 general.txt | head -3 | tr -d '\r' | paste -sd' ' | sed 's/^/general.txt starts: /'

peak() { /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F: '/Maximum resident set size/ {gsub(/ /, "", $2); print $2}'; }
peak_big=$(peak "$analyzer" big.264 0)
peak_double=$(peak "$analyzer" double.264 0)
echo "peak memory: $peak_big KiB for $big bytes, $peak_double KiB for $((2 * big)) bytes"
awk -v a="$peak_big" -v b="$peak_double" 'BEGIN { printf "peak memory ratio double/single stream: %.2f (target about 1)\n", b / a }'
