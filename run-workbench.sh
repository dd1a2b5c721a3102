#!/usr/bin/env bash
# Installs what is missing (players included), builds, assembles the workbench
# folder build/workbench and starts the workbench there.
set -euo pipefail
root=$(cd "$(dirname "$0")" && pwd)
"$root/scripts/install-deps.sh" --players
"$root/scripts/build.sh"
cd "$root/build/workbench"
exec ./kestrune
