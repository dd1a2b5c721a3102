#!/usr/bin/env bash
# Installs what is missing (players included), builds, assembles the workbench
# folder build/workbench and starts the workbench there.
set -euo pipefail
root=$(cd "$(dirname "$0")" && pwd)
"$root/scripts/install-deps.sh" --players
# Only the window, its tools and the sample: the tests are built by ./run-tests.sh.
"$root/scripts/build.sh" workbench
cd "$root/build/workbench"
# A first assembly names the installed players; a players.cnf the user already
# has is never overwritten.
if [[ ! -e players.cnf ]]; then
  h264_player=$(command -v mpv || true)
  yuv_player=$(command -v YUView || command -v yuview || true)
  printf '%s\r\n%s\r\n' "$h264_player" "$yuv_player" > players.cnf
fi
exec ./kestrune
