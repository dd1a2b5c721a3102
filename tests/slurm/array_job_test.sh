#!/usr/bin/env bash
# The one-node cluster starts, shows its node idle, runs a job array of four
# tasks and a job that depends on the array, and stops again.
set -uo pipefail
source "$(dirname "$0")/one_node_slurm.sh"
slurm_cluster_start || exit $?

work=$(mktemp -d /tmp/kestrune-slurm-array.XXXXXX)
trap 'slurm_cluster_stop; rm -rf "$work"' EXIT
cat >"$work/task.sh" <<'JOB'
#!/bin/sh
echo "$SLURM_ARRAY_TASK_ID of $SLURM_ARRAY_TASK_COUNT" >"$1/task-$SLURM_ARRAY_TASK_ID"
JOB
cat >"$work/after.sh" <<'JOB'
#!/bin/sh
cat "$1"/task-* >"$1/after"
JOB
array=$(sbatch --parsable --array=0-3 --cpus-per-task=1 --time=00:05:00 --output="$work/task-%a.out" \
  "$work/task.sh" "$work") || { echo "sbatch of the array failed" >&2; exit 1; }
array=${array%%;*}
after=$(sbatch --parsable --dependency=afterok:"$array" --output="$work/after.out" "$work/after.sh" "$work") \
  || { echo "sbatch of the dependent job failed" >&2; exit 1; }
after=${after%%;*}

deadline=$((SECONDS + 120))
until [[ -f "$work/after" ]] && ! squeue -h -j "$after" 2>/dev/null | grep -q .; do
  if ((SECONDS >= deadline)); then
    echo "the jobs did not finish within 120 s:" >&2
    squeue >&2
    exit 1
  fi
  sleep 0.5
done
expected=$'0 of 4\n1 of 4\n2 of 4\n3 of 4'
if [[ "$(cat "$work/after")" != "$expected" ]]; then
  echo "the dependent job saw: $(cat "$work/after")" >&2
  exit 1
fi
echo "array job $array (4 tasks) and dependent job $after ran"
