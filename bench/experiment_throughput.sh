#!/usr/bin/env bash
# Experiment throughput: the QCIF sample (4 slices per picture), 3 loss rates
# x 2 concealment pairs x RUNS runs, run with one job and with one job per
# core. Prints runs per second of each, their ratio (target >= 1.7 on two
# cores) and the wall time of the whole set on every core. The two are run in
# the order all, one, one, all so a change of the machine's load weighs on
# both alike; the best of each counts.
# usage: bench/experiment_throughput.sh [BUILD_DIR] [RUNS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/build_dir.sh"
build=$(absolute_build_dir "${1:-$root/build}")
runs=${2:-20}
workbench=$build/workbench
program=$workbench/kestrune-experiment
[[ -x "$program" ]] || { echo "missing $program: build the workbench first" >&2; exit 1; }
work=$(mktemp -d /tmp/kestrune-experiment-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
now() { date +%s.%N; }

"$workbench/x264.exe" --qp 30 --slices 4 "$workbench/sample_176x144.yuv" -o "$work/s.264" >/dev/null 2>&1
cores=$(nproc)
total=$((6 * runs))
load=$(cut -d' ' -f1-3 /proc/loadavg)
times_one=() times_all=()
for jobs in "$cores" 1 1 "$cores"; do
  rm -rf "$work/out"
  start=$(now)
  "$program" --stream "$work/s.264" --original "$workbench/sample_176x144.yuv" --loss-rates 5,10,20 \
    --pairs 3:1,0:0 --runs "$runs" --seed 1 --jobs "$jobs" --tools "$workbench" --output "$work/out" >/dev/null
  elapsed=$(echo "$(now) - $start" | bc -l)
  if [[ $jobs == 1 ]]; then times_one+=("$elapsed"); else times_all+=("$elapsed"); fi
done
best() { printf '%s\n' "$@" | sort -g | head -n 1; }
one=$(best "${times_one[@]}")
all=$(best "${times_all[@]}")
failed=$(grep -c ',failed,' "$work/out/runs.csv" || true)
printf 'experiment: %d runs (3 loss rates x 2 pairs x %d, 300 QCIF frames each); %d failed; load before: %s\n' \
  "$total" "$runs" "$failed" "$load"
printf '1 job:          %7.2f s  %6.2f runs/s\n' "$one" "$(echo "$total / $one" | bc -l)"
printf '%d jobs (cores): %7.2f s  %6.2f runs/s\n' "$cores" "$all" "$(echo "$total / $all" | bc -l)"
printf 'speed-up:       %7.2f (target >= 1.7 on 2 cores)\n' "$(echo "$one / $all" | bc -l)"
