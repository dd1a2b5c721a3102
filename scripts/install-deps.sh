#!/usr/bin/env bash
# Installs every Debian package the workbench, its tools and its tests need.
# Usage: scripts/install-deps.sh [--players]
#   --players also installs the stream and YUV players the workbench launches.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-charts-dev libjpeg62-turbo-dev
  libx264-dev libavcodec-dev libavutil-dev
  libopenh264-dev
  libgtest-dev libgmock-dev
  xvfb xauth imagemagick fonts-dejavu-core
)
if [[ "${1:-}" == "--players" ]]; then
  packages+=(mpv yuview)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=""
[[ $(id -u) -ne 0 ]] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
