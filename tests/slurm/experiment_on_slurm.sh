# Runs an experiment on the one-node cluster (source after one_node_slurm.sh).
#
#   slurm_experiment EXPERIMENT_PROGRAM SETTINGS_FILE OUTPUT SHARDS TIMEOUT_S [script]
#
# writes the job array and the merge job with `kestrune-experiment --slurm
# SHARDS` and submits them, with --submit, or with "script" as a user does
# after the window wrote the job: sh OUTPUT/submit.sh. Then it waits (at most
# TIMEOUT_S seconds) until the merge job has left the queue, and succeeds when
# OUTPUT/runs.csv was written. On failure it shows the jobs' output files.
slurm_experiment() {
  local program=$1 settings=$2 output=$3 shards=$4 timeout=$5 how=${6:-submit}
  local submitted merge_job
  if [[ $how == script ]]; then
    "$program" --settings "$settings" --output "$output" --slurm "$shards" --time 00:20:00 >/dev/null \
      && submitted=$(sh "$output/submit.sh")
  else
    submitted=$("$program" --settings "$settings" --output "$output" --slurm "$shards" --submit --time 00:20:00)
  fi || {
    echo "writing or submitting the Slurm job ($how) failed: $submitted" >&2
    return 1
  }
  merge_job=$(sed -n 's/^merge job: *//p' <<<"$submitted")
  if [[ -z "$merge_job" ]]; then
    echo "no merge job id in: $submitted" >&2
    return 1
  fi
  local deadline=$((SECONDS + timeout))
  while squeue -h -j "$merge_job" 2>/dev/null | grep -q .; do
    if ((SECONDS >= deadline)); then
      echo "the experiment did not finish on Slurm within $timeout s:" >&2
      squeue >&2
      return 1
    fi
    sleep 0.2
  done
  if [[ ! -f "$output/runs.csv" ]]; then
    echo "the merge job $merge_job left no runs.csv; the jobs' output:" >&2
    tail -n 20 "$output"/slurm-*.out >&2 2>/dev/null
    return 1
  fi
}
