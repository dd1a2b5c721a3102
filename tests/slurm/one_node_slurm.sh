# A private one-node Slurm cluster for tests and benches (source this file).
#
#   slurm_cluster_start   installs what is missing (scripts/install-deps.sh
#                         --slurm), starts munged, slurmctld and slurmd on a
#                         configuration of their own in a temporary folder,
#                         exports SLURM_CONF and waits until the node is idle.
#                         Returns 77 (the skip code) with a message on standard
#                         error when this machine cannot run it.
#   slurm_cluster_stop    cancels the cluster's jobs and stops the daemons
#                         slurm_cluster_start started, by their process ids.
#
# Nothing outside the temporary folder is touched: not /etc/slurm, not the
# system's munge key or socket, so a machine's own Slurm or munge keeps
# running. slurm_cluster_start installs an EXIT trap (and turns INT, TERM and
# HUP into an exit) so the daemons stop on every way out of the caller.

slurm_cluster_dir=""
slurm_cluster_pids=()

_slurm_note() { echo "one-node Slurm: $*" >&2; }

# A TCP port on which nothing listens, from a range Slurm does not use by
# default, so a machine's own cluster on 6817/6818 does not collide with ours.
_slurm_free_port() {
  local port
  for ((port = $1; port < $1 + 200; ++port)); do
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "$port"
      return 0
    fi
  done
  return 1
}

# Waits up to $1 seconds for the command after it to succeed.
_slurm_wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@" >/dev/null 2>&1; do
    ((SECONDS < deadline)) || return 1
    sleep 0.2
  done
}

_slurm_node_idle() { [[ "$(sinfo -h -N -o %t 2>/dev/null)" == idle ]]; }
_slurm_no_jobs() { [[ -z "$(squeue -h -o %i 2>/dev/null)" ]]; }

slurm_cluster_start() {
  local root
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
  if [[ $(id -u) -ne 0 ]]; then
    _slurm_note "skipped: starting munged as the munge user and slurmd needs root"
    return 77
  fi
  if ! command -v slurmctld >/dev/null || ! command -v slurmd >/dev/null || ! command -v sbatch >/dev/null \
     || ! command -v munged >/dev/null; then
    "$root/scripts/install-deps.sh" --slurm >&2 || true
  fi
  local tool
  for tool in slurmctld slurmd sbatch sinfo squeue scancel munged munge; do
    if ! command -v "$tool" >/dev/null; then
      _slurm_note "skipped: $tool is not installed and the Slurm packages could not be installed"
      return 77
    fi
  done
  if ! getent passwd munge >/dev/null; then
    _slurm_note "skipped: there is no munge user (the munge package is incomplete)"
    return 77
  fi

  trap slurm_cluster_stop EXIT
  trap 'exit 130' INT TERM HUP

  slurm_cluster_dir=$(mktemp -d /tmp/kestrune-slurm.XXXXXX)
  chmod 755 "$slurm_cluster_dir"
  local d=$slurm_cluster_dir
  mkdir -p "$d/munge-key" "$d/munge" "$d/state" "$d/spool" "$d/log"
  # munged wants a key only it can read in a folder only it can enter, and
  # a socket folder that everyone may enter but only it may write.
  dd if=/dev/urandom of="$d/munge-key/munge.key" bs=1024 count=1 status=none
  chown -R munge:munge "$d/munge-key" "$d/munge"
  chmod 700 "$d/munge-key"
  chmod 400 "$d/munge-key/munge.key"
  chmod 755 "$d/munge"

  local socket=$d/munge/munge.socket
  setpriv --reuid=munge --regid=munge --init-groups \
    munged --foreground --key-file="$d/munge-key/munge.key" --socket="$socket" \
    --pid-file="$d/munge/munged.pid" --log-file="$d/munge/munged.log" --seed-file="$d/munge/munged.seed" \
    </dev/null >/dev/null 2>&1 &
  slurm_cluster_pids+=($!)
  if ! _slurm_wait_for 20 sh -c "munge -n -S '$socket' | unmunge -S '$socket'"; then
    _slurm_note "munged did not start; its log:"
    cat "$d/munge/munged.log" >&2 2>/dev/null
    return 1
  fi

  local host ctld_port slurmd_port
  host=$(hostname -s)
  ctld_port=$(_slurm_free_port 16817) && slurmd_port=$(_slurm_free_port $((ctld_port + 1))) || {
    _slurm_note "no free port for slurmctld and slurmd"
    return 1
  }
  cat >"$d/slurm.conf" <<CONF
ClusterName=kestrune
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$socket
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
MpiDefault=none
ReturnToService=2
# A job whose dependency can no longer be met (a failed shard under the
# merge's afterok) is cancelled instead of pending for ever.
DependencyParameters=kill_invalid_depend
StateSaveLocation=$d/state
SlurmdSpoolDir=$d/spool
SlurmctldPidFile=$d/slurmctld.pid
SlurmdPidFile=$d/slurmd.pid
SlurmctldLogFile=$d/log/slurmctld.log
SlurmdLogFile=$d/log/slurmd.log
NodeName=$host NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=debug Nodes=$host Default=YES MaxTime=INFINITE State=UP
CONF
  chmod 644 "$d/slurm.conf"
  export SLURM_CONF=$d/slurm.conf

  slurmctld -D -i -f "$SLURM_CONF" </dev/null >"$d/log/slurmctld.out" 2>&1 &
  slurm_cluster_pids+=($!)
  slurmd -D -f "$SLURM_CONF" </dev/null >"$d/log/slurmd.out" 2>&1 &
  slurm_cluster_pids+=($!)
  if ! _slurm_wait_for 60 _slurm_node_idle; then
    _slurm_note "the node did not become idle within 60 s (sinfo: $(sinfo -h -N -o '%N %t' 2>&1)); logs:"
    tail -n 20 "$d"/log/* >&2 2>/dev/null
    return 1
  fi
  _slurm_note "node $host idle with $(nproc) CPUs (configuration $SLURM_CONF)"
}

slurm_cluster_stop() {
  local status=$?
  trap - EXIT INT TERM HUP
  if [[ -n "$slurm_cluster_dir" && ${#slurm_cluster_pids[@]} -gt 0 ]]; then
    # Jobs first, so no job step outlives the node daemon.
    if [[ -n "${SLURM_CONF:-}" ]] && kill -0 "${slurm_cluster_pids[@]:1}" 2>/dev/null; then
      scancel --full --quiet --user=root 2>/dev/null
      _slurm_wait_for 20 _slurm_no_jobs || _slurm_note "jobs still listed after scancel"
    fi
    local pid i
    # slurmd, then slurmctld, then munged: the reverse of the start.
    for ((i = ${#slurm_cluster_pids[@]} - 1; i >= 0; --i)); do
      pid=${slurm_cluster_pids[i]}
      kill -TERM "$pid" 2>/dev/null || continue
      local deadline=$((SECONDS + 15))
      while kill -0 "$pid" 2>/dev/null && ((SECONDS < deadline)); do sleep 0.1; done
      kill -KILL "$pid" 2>/dev/null
      wait "$pid" 2>/dev/null
    done
  fi
  slurm_cluster_pids=()
  if [[ -n "$slurm_cluster_dir" ]]; then
    rm -rf "$slurm_cluster_dir"
    slurm_cluster_dir=""
  fi
  unset SLURM_CONF
  return $status
}
