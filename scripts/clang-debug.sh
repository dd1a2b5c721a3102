#!/usr/bin/env bash
# Builds the tools and the codec and decoder tests with Clang in Debug (no
# optimisation) into build-clang-debug/ and runs those tests, on the vector
# and on the plain kernels: the main build (GCC, optimised) alone would hide
# code that only one compiler or one optimisation level accepts.
# Usage: scripts/clang-debug.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if ! command -v clang++ >/dev/null; then
  echo "clang-debug: clang++ is not installed (scripts/install-deps.sh installs it)" >&2
  exit 1
fi
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$root/build-clang-debug" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ "${launcher[@]}" >/dev/null
cmake --build "$root/build-clang-debug" -j "$(nproc)" \
  --target tools/all tests/tools/codec/all tests/tools/baseline_decoder/all
ctest --test-dir "$root/build-clang-debug" -L "^(codec|decoder)$" --output-on-failure -j "$(nproc)"
