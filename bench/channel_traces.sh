#!/usr/bin/env bash
# Loss traces against the Gilbert model: four traces made here (about 1, 3, 5
# and 10 % loss, losses clustered in congestion periods of some hundred
# packets), sent as RTP (MTU 1400, parameter sets out of band) over the QCIF
# and CIF samples. For each trace and concealment pair: mean Y-PSNR with its
# 95 % interval, next to a Gilbert channel with the trace's own loss rate and
# mean burst length. Prints each trace's statistics as kestrune-channel
# prints them, and the time each sample took.
# usage: bench/channel_traces.sh [BUILD_DIR] [RUNS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/build_dir.sh"
build=$(absolute_build_dir "${1:-$root/build}")
runs=${2:-10}
workbench=$build/workbench
for program in kestrune-experiment kestrune-channel x264.exe gilbert.exe; do
  [[ -x "$workbench/$program" ]] || { echo "missing $workbench/$program: build the workbench first" >&2; exit 1; }
done
sample_maker=$build/tools/sample/kestrune-make-sample
work=$(mktemp -d /tmp/kestrune-channel-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
now() { date +%s.%N; }
packets=60000

# A trace: congestion periods (a slow Gilbert pattern, mean length 250
# packets) within which a fast one loses packets in short bursts; no loss
# outside them. Lines of 80 values.
make_trace() { # NAME CONGESTED_PERCENT INNER_PERCENT SEED
  "$workbench/gilbert.exe" "$2" 250 $packets "$work/congested.txt" "$4" >/dev/null
  "$workbench/gilbert.exe" "$3" 3 $packets "$work/inner.txt" $(( $4 + 1000 )) >/dev/null
  paste -d ' ' <(tr -d '\r' <"$work/congested.txt") <(tr -d '\r' <"$work/inner.txt") |
    awk '{ printf "%s", ($1 == "0" && $2 == "0") ? "0" : "1"; if (NR % 80 == 0) printf "\n" }' >"$work/$1.txt"
}
make_trace trace1 10 10 11
make_trace trace3 10 30 12
make_trace trace5 10 50 13
make_trace trace10 20 50 14

settings() { # SAMPLE_YUV STREAM OUT SIZE -- common experiment options
  printf '%s\n' --stream "$2" --original "$1" --size "$4" --pairs 3:1,0:0 --runs "$runs" --seed 1 \
    --packets rtp:1400 --parameter-sets out-of-band --tools "$workbench" --output "$3"
}

column() { # CSV FIELD_NUMBER ROW_PATTERN
  awk -F, -v f="$2" -v p="$3" 'NR > 1 && $0 ~ p { print $f; exit }' "$1"
}

for size in 176x144 352x288; do
  width=${size%x*} height=${size#*x}
  yuv=$work/sample_$size.yuv
  if [[ $size == 176x144 ]]; then cp "$workbench/sample_176x144.yuv" "$yuv"
  else "$sample_maker" --width "$width" --height "$height" --frames 300 -o "$yuv" >/dev/null; fi
  bitrate=$(( width * height / 100 ))  # 253 kbit/s QCIF, 1013 kbit/s CIF
  # Four slices per picture: a lost packet leaves neighbours to conceal from
  # (with one slice a loss takes the whole picture, and every pair repeats
  # the last one alike); CIF's IDR slices still go as FU-A fragments.
  "$workbench/x264.exe" --bitrate "$bitrate" --slices 4 --keyint 50 --min-keyint 50 --scenecut 0 "$yuv" \
    -o "$work/s_$size.264" >/dev/null 2>&1
  echo "== $size, 300 frames, libx264 at $bitrate kbit/s, 4 slices per picture, IDR every 50; RTP MTU 1400," \
       "parameter sets out of band; $runs runs per setting"
  start=$(now)
  channels=()
  for t in trace1 trace3 trace5 trace10; do channels+=(--channel "trace:$work/$t.txt"); done
  "$workbench/kestrune-experiment" $(settings "$yuv" "$work/s_$size.264" "$work/out_$size" "$size") \
    "${channels[@]}" >/dev/null
  for t in trace1 trace3 trace5 trace10; do
    # The trace's own statistics, and a Gilbert channel with its rate and mean burst.
    "$workbench/kestrune-channel" "$work/s_$size.264" "$work/p.txt" --channel "trace:$work/$t.txt" --offset 0 \
      --packets rtp:1400 --parameter-sets out-of-band >"$work/$t.stats"
    stats=$(head -n 1 "$work/$t.stats")
    rate=$(sed -n 's/.*(loss rate \([0-9.e+-]*\)%).*/\1/p' <<<"$stats")
    burst=$(sed -n 's/.*mean burst length \([0-9.e+-]*\) packets.*/\1/p' <<<"$stats")
    "$workbench/kestrune-experiment" $(settings "$yuv" "$work/s_$size.264" "$work/gilbert_${t}_$size" "$size") \
      --channel gilbert --loss-rates "$rate" --bursts "$burst" >/dev/null
    [[ $size == 176x144 ]] && echo "${stats#channel: }" | sed "s|$work/||"
  done
  elapsed=$(echo "$(now) - $start" | bc -l)
  printf '%-8s %-22s %-32s %-32s %s\n' channel pair "trace: Y-PSNR [95 % interval]" \
    "Gilbert, same rate and burst" "realised packet loss (trace, Gilbert)"
  for t in trace1 trace3 trace5 trace10; do
    for pair in '3,1' '0,0'; do
      row() { awk -F, -v p="$pair" -v t="$2" 'NR > 1 && ($3 "," $4) == p && (t == "" || index($0, t)) {
                printf "%.2f dB [%.2f, %.2f]", $8, $10, $11; exit }' "$1/summary.csv"; }
      label=$(awk -F, -v p="$pair" 'NR > 1 && ($3 "," $4) == p { print $5; exit }' "$work/out_$size/summary.csv")
      loss() { awk -F, -v p="$pair" -v t="$2" 'NR > 1 && ($4 "," $5) == p && (t == "" || index($0, t)) {
                 s += $24; n++ } END { printf "%.2f %%", n ? s / n : 0 }' "$1/runs.csv"; }
      printf '%-8s %-22s %-32s %-32s %s, %s\n' "$t" "$label" "$(row "$work/out_$size" "$t.txt")" \
        "$(row "$work/gilbert_${t}_$size" "")" "$(loss "$work/out_$size" "$t.txt")" \
        "$(loss "$work/gilbert_${t}_$size" "")"
    done
  done
  failed=$(cat "$work"/out_$size/runs.csv "$work"/gilbert_*_$size/runs.csv | grep -c ',failed,' || true)
  printf 'time for %s: %.1f s (%d runs, %d failed)\n' "$size" "$elapsed" $(( 16 * runs )) "$failed"
done
