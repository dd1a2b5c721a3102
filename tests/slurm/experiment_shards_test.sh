#!/usr/bin/env bash
# An experiment run as a Slurm job array of four shards plus the dependent
# merge job on the one-node cluster writes the same runs.csv, summary.csv and
# plot as the same experiment run here, byte for byte, whether the tool
# submitted the jobs or the user ran the submit script it wrote. The Slurm
# runs' folders have a blank, a percent sign and quotes in their names: the
# batch scripts' directives and commands must carry them whole.
# usage: tests/slurm/experiment_shards_test.sh WORKBENCH_FOLDER
set -uo pipefail
here=$(dirname "$0")
source "$here/one_node_slurm.sh"
source "$here/experiment_on_slurm.sh"
workbench=$(cd "${1:?usage: $0 WORKBENCH_FOLDER}" && pwd) || exit 1
program=$workbench/kestrune-experiment
[[ -x "$program" ]] || { echo "no $program: build the workbench first" >&2; exit 1; }

slurm_cluster_start || exit $?
work=$(mktemp -d /tmp/kestrune-slurm-experiment.XXXXXX)
trap 'slurm_cluster_stop; rm -rf "$work"' EXIT

"$workbench/x264.exe" --qp 30 --slices 4 --frames 24 "$workbench/sample_176x144.yuv" -o "$work/s.264" \
  >/dev/null 2>&1 || { echo "encoding the test stream failed" >&2; exit 1; }
start=$SECONDS
"$program" --stream "$work/s.264" --original "$workbench/sample_176x144.yuv" --loss-rates 5,20 \
  --pairs 3:1,0:0 --runs 3 --seed 11 --jobs 2 --tools "$workbench" --output "$work/local" >/dev/null
code=$?  # 4: every run ended, some failed (a lost parameter set leaves nothing to decode)
((code == 0 || code == 4)) || { echo "the local run failed ($code)" >&2; exit 1; }
local_time=$((SECONDS - start))

# Submitted by the tool (--submit), and by the script the window tells the
# user to run.
status=0
slurm_time=""
for how in submit script; do
  slurm="$work/$how on slurm 5% \"q\" it's"
  start=$SECONDS
  slurm_experiment "$program" "$work/local/experiment.txt" "$slurm" 4 600 "$how" || exit 1
  slurm_time+=" $how $((SECONDS - start)) s"

  shard_files=("$slurm"/runs-shard-*-of-4.csv)
  if [[ ${#shard_files[@]} -ne 4 ]]; then
    echo "$how: expected 4 shard files, found: ${shard_files[*]}" >&2
    status=1
  fi
  for name in runs.csv summary.csv plot.svg; do
    if ! cmp "$work/local/$name" "$slurm/$name"; then
      echo "$how: $name differs between the local run and the Slurm shards:" >&2
      diff "$work/local/$name" "$slurm/$name" | head -n 20 >&2
      status=1
    fi
  done
  [[ -s "$slurm/plot.png" ]] || { echo "$how: the merge job wrote no plot.png" >&2; status=1; }
done
grep -q ',ok,' "$work/local/runs.csv" || { echo "no run of the local experiment succeeded" >&2; status=1; }
((status == 0)) && echo "12 runs: local ${local_time} s; 4 Slurm shards + merge:${slurm_time}; results identical"
exit $status
