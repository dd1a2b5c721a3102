#!/usr/bin/env bash
# Configures and builds everything into build/ (Release with debug info).
# Usage: scripts/build.sh [TARGET...]   (no target: everything)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
launcher=()
# A compiler cache, where one is installed, makes rebuilds across checkouts cheap.
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake --build "$root/build" -j "$(nproc)" "${targets[@]}"
