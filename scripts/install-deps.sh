#!/usr/bin/env bash
# Installs every Debian package the workbench, its tools and its tests need.
# Usage: scripts/install-deps.sh [--players] [--slurm] [--fuzz]
#   --players also installs the stream and YUV players the workbench launches.
#   --fuzz    also installs clang and its sanitizer and libFuzzer runtimes
#             (libclang-rt-14-dev, which clang only recommends) for scripts/fuzz.sh.
#   --slurm   also installs a one-node Slurm (controller, node daemon, client,
#             munge) for the cluster test. Where those packages cannot be
#             installed (no network, no root) it says so and carries on: the
#             cluster test then skips itself.
set -euo pipefail

packages=(
  build-essential clang cmake ninja-build pkg-config
  qt6-base-dev qt6-charts-dev libqt6opengl6-dev libjpeg62-turbo-dev
  libx264-dev libavcodec-dev libavutil-dev
  libopenh264-dev
  libboost-math-dev
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  libgtest-dev libgmock-dev
  xvfb xauth imagemagick fonts-dejavu-core
)
slurm_packages=(slurmctld slurmd slurm-client munge)
slurm=0
for arg in "$@"; do
  case "$arg" in
    --players) packages+=(mpv yuview) ;;
    --fuzz) packages+=(clang libclang-rt-14-dev) ;;
    --slurm) slurm=1 ;;
    *) echo "install-deps.sh: unknown option $arg" >&2; exit 2 ;;
  esac
done

missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}

sudo=""
[[ $(id -u) -ne 0 ]] && sudo="sudo"
updated=0
install() {
  if [[ $updated -eq 0 ]]; then
    $sudo apt-get update -qq || return 1
    updated=1
  fi
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$@"
}

mapfile -t missing < <(missing_of "${packages[@]}")
if [[ ${#missing[@]} -gt 0 ]]; then
  echo "Installing: ${missing[*]}"
  install "${missing[@]}"
fi

if [[ $slurm -eq 1 ]]; then
  mapfile -t missing < <(missing_of "${slurm_packages[@]}")
  if [[ ${#missing[@]} -gt 0 ]]; then
    echo "Installing: ${missing[*]}"
    if ! install "${missing[@]}"; then
      echo "install-deps.sh: the Slurm packages (${missing[*]}) could not be installed;" \
           "the one-node Slurm test will be skipped." >&2
    fi
  fi
fi
