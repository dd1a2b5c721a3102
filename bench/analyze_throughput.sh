#!/usr/bin/env bash
# Analyzer mode 0 on a large stream against plainly reading the same file, and
# the analyzer's peak memory for two stream sizes (it must not grow with the
# stream). Usage: bench/analyze_throughput.sh [BUILD_DIR] [MEGABYTES]
# The big streams are made in a temporary directory and removed afterwards.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/build_dir.sh"
build=$(absolute_build_dir "${1:-$root/build}")
megabytes=${2:-200}
analyzer=$build/tools/analyze/kestrune-analyze
[[ -x $analyzer ]] || { echo "build kestrune-analyze first ($analyzer)" >&2; exit 1; }

work=$(mktemp -d /tmp/kestrune_bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

flags=$(pkg-config --cflags --libs x264)
g++ -O2 -std=c++20 -I"$root" "$root/bench/analyze_make_stream.cpp" "$root/tests/support/x264_stream.cpp" \
    "$root/tools/sample/sample_sequence.cpp" \
    $flags -o "$work/make_stream"
g++ -O2 -std=c++20 "$root/bench/analyze_read_file.cpp" -o "$work/read_file"
g++ -O2 -std=c++20 "$root/bench/analyze_cpu_time.cpp" -o "$work/cpu_time"

"$work/make_stream" 300 "$work/one.264"
one=$(stat -c %s "$work/one.264")
copies=$(( (megabytes * 1024 * 1024 + one - 1) / one ))
for ((i = 0; i < copies; ++i)); do cat "$work/one.264"; done >"$work/big.264"
for ((i = 0; i < 2; ++i)); do cat "$work/big.264"; done >"$work/double.264"
big=$(stat -c %s "$work/big.264")
echo "stream: $copies copies of a $one-byte stream = $big bytes"

best() { # best wall and best CPU seconds of 5 runs
  local runs=""
  for _ in 1 2 3 4 5; do runs+="$("$work/cpu_time" "$@")"$'\n'; done
  echo "$runs" | awk 'NF == 2 { if (w == "" || $1 < w) w = $1; if (c == "" || $2 < c) c = $2 } END { print w, c }'
}

cd "$work"
"$work/read_file" big.264 >/dev/null  # into the page cache
read time_read cpu_read < <(best "$work/read_file" big.264)
read time_whole cpu_whole < <(best "$work/read_file" --whole big.264)
read time_analyze cpu_analyze < <(best "$analyzer" big.264 0)
[[ -s general.txt ]] || { echo "the analyzer wrote no general.txt" >&2; exit 1; }
awk -v b="$big" -v r="$time_read" -v rc="$cpu_read" -v w="$time_whole" -v wc="$cpu_whole" \
    -v a="$time_analyze" -v ac="$cpu_analyze" 'BEGIN {
  printf "%-34s %8s %10s %8s\n", "", "wall s", "MB/s", "CPU s"
  printf "%-34s %8.3f %10.0f %8.3f\n", "read through a 1 MiB buffer", r, b / r / 1e6, rc
  printf "%-34s %8.3f %10.0f %8.3f\n", "read whole file into memory", w, b / w / 1e6, wc
  printf "%-34s %8.3f %10.0f %8.3f\n", "analyzer mode 0", a, b / a / 1e6, ac
  printf "ratio analyzer / 1 MiB-buffer read: wall %.2f, CPU %.2f (target >= 0.5)\n", r / a, rc / ac
  printf "ratio analyzer / whole-file read:   wall %.2f, CPU %.2f (target >= 0.5)\n", w / a, wc / ac
}'
echo "general.txt starts: $(head -c 60 general.txt | tr -d '\r' | head -3 | paste -sd' ')"

peak() { /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F: '/Maximum resident set size/ {gsub(/ /, "", $2); print $2}'; }
peak_big=$(peak "$analyzer" big.264 0)
peak_double=$(peak "$analyzer" double.264 0)
echo "peak memory: $peak_big KiB for $big bytes, $peak_double KiB for $((2 * big)) bytes"
awk -v a="$peak_big" -v b="$peak_double" 'BEGIN { printf "peak memory ratio double/single stream: %.2f (target about 1)\n", b / a }'
