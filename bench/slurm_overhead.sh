#!/usr/bin/env bash
# The scheduler's overhead: one experiment (the QCIF sample, 3 loss rates x 2
# concealment pairs x RUNS runs) run here on every core, then as a Slurm job
# array of 4 shards (one CPU each) plus the merge job on a private one-node
# cluster of this machine. Prints the wall time of each, their ratio, and
# whether both wrote the same results. Needs root (the cluster's daemons).
# On a machine busy with other work the comparison leans towards Slurm: each
# array task runs in a session of its own, and where the kernel shares the
# CPUs between sessions (sched_autogroup_enabled, printed below) two running
# shards get two shares against the local run's one. On an idle machine the
# difference is the scheduler's own cost.
# usage: bench/slurm_overhead.sh [BUILD_DIR] [RUNS]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/build_dir.sh"
source "$root/tests/slurm/one_node_slurm.sh"
source "$root/tests/slurm/experiment_on_slurm.sh"
build=$(absolute_build_dir "${1:-$root/build}") || exit 1
runs=${2:-20}
workbench=$build/workbench
program=$workbench/kestrune-experiment
[[ -x "$program" ]] || { echo "missing $program: build the workbench first" >&2; exit 1; }

slurm_cluster_start || exit $?
work=$(mktemp -d /tmp/kestrune-slurm-bench.XXXXXX)
trap 'slurm_cluster_stop; rm -rf "$work"' EXIT
now() { date +%s.%N; }

"$workbench/x264.exe" --qp 30 --slices 4 "$workbench/sample_176x144.yuv" -o "$work/s.264" >/dev/null 2>&1 \
  || { echo "encoding the sample failed" >&2; exit 1; }
load=$(cut -d' ' -f1-3 /proc/loadavg)
cores=$(nproc)
run_local() {
  "$program" --stream "$work/s.264" --original "$workbench/sample_176x144.yuv" --loss-rates 5,10,20 \
    --pairs 3:1,0:0 --runs "$runs" --seed 1 --jobs "$cores" --tools "$workbench" --output "$work/local" >/dev/null \
    || { echo "the local run failed" >&2; exit 1; }
}
run_slurm() { slurm_experiment "$program" "$work/local/experiment.txt" "$work/slurm" 4 1800 || exit 1; }
# Each one twice, in the order local, Slurm, Slurm, local, so a change of the
# machine's load during the bench weighs on both alike; the best of each counts.
times_local=() times_slurm=()
for what in local slurm slurm local; do
  rm -rf "$work/$what"
  start=$(now)
  "run_$what"
  elapsed=$(printf "%.2f" "$(echo "$(now) - $start" | bc)")
  if [[ $what == local ]]; then times_local+=("$elapsed"); else times_slurm+=("$elapsed"); fi
  if [[ $what == slurm ]]; then
    same=yes
    for name in runs.csv summary.csv plot.svg; do cmp -s "$work/local/$name" "$work/slurm/$name" || same=no; done
  fi
done
best() { printf '%s\n' "$@" | sort -g | head -n 1; }
local_time=$(best "${times_local[@]}")
slurm_time=$(best "${times_slurm[@]}")
printf 'experiment: %d runs (3 loss rates x 2 pairs x %d); load average before: %s; autogroup: %s\n' \
  $((6 * runs)) "$runs" "$load" "$(cat /proc/sys/kernel/sched_autogroup_enabled 2>/dev/null || echo unknown)"
printf 'local, %d jobs on %d cores:        %8.2f s   (runs: %s s)\n' "$cores" "$cores" "$local_time" "${times_local[*]}"
printf 'Slurm, 4 shards x 1 CPU + merge:  %8.2f s   (runs: %s s)\n' "$slurm_time" "${times_slurm[*]}"
printf 'Slurm / local:                    %8.2f\n' "$(echo "$slurm_time / $local_time" | bc -l)"
echo "results identical: $same"
