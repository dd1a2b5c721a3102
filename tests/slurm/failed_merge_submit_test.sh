#!/usr/bin/env bash
# When the merge job cannot be submitted after the shards were, both ways of
# submitting (the tool's --submit and the submit script it writes) cancel the
# shards job and fail, instead of leaving shards whose rows nobody joins.
# sbatch and scancel are stand-ins here: no Slurm is needed.
# usage: tests/slurm/failed_merge_submit_test.sh WORKBENCH_FOLDER
set -uo pipefail
workbench=$(cd "${1:?usage: $0 WORKBENCH_FOLDER}" && pwd) || exit 1
program=$workbench/kestrune-experiment
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
cat >"$work/bin/sbatch" <<'FAKE'
#!/bin/sh
echo "sbatch $*" >>"$FAKE_LOG"
case "$*" in
  *--dependency=*) echo "sbatch: error: Batch job submission failed: Job dependency problem" >&2; exit 1 ;;
  *) echo "41;cluster" ;;
esac
FAKE
cat >"$work/bin/scancel" <<'FAKE'
#!/bin/sh
echo "scancel $*" >>"$FAKE_LOG"
FAKE
chmod +x "$work/bin/sbatch" "$work/bin/scancel"
export PATH="$work/bin:$PATH"

"$workbench/x264.exe" --qp 30 --frames 2 "$workbench/sample_176x144.yuv" -o "$work/s.264" >/dev/null 2>&1 \
  || { echo "encoding the test stream failed" >&2; exit 1; }
status=0
check() { # HOW EXIT_CODE STDERR
  local log
  log=$(cat "$FAKE_LOG")
  if [[ $2 -eq 0 ]]; then echo "$1: succeeded although the merge job was refused" >&2; status=1; fi
  if ! grep -qx "scancel 41" <<<"$log"; then echo "$1: the shards job 41 was not cancelled; calls: $log" >&2; status=1; fi
  if ! grep -q "41" <<<"$3"; then echo "$1: the message does not name the shards job: $3" >&2; status=1; fi
  grep -q -- "--dependency=afterany:41 " <<<"$log" || { echo "$1: the merge did not depend on 41: $log" >&2; status=1; }
}

export FAKE_LOG=$work/tool.log
err=$("$program" --stream "$work/s.264" --original "$workbench/sample_176x144.yuv" --loss-rates 5 --runs 2 \
  --tools "$workbench" --output "$work/tool" --slurm 2 --submit 2>&1 >/dev/null)
check "--submit" $? "$err"

export FAKE_LOG=$work/script.log
err=$(sh "$work/tool/submit.sh" 2>&1 >/dev/null)
check "submit.sh" $? "$err"
exit $status
