#!/usr/bin/env bash
# Builds the tools, the runner and their tests with AddressSanitizer and
# UndefinedBehaviorSanitizer into build-sanitize/ and runs those tests.
# Usage: scripts/sanitize.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$root/build-sanitize" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRUNE_SANITIZE=ON \
  "${launcher[@]}" >/dev/null
cmake --build "$root/build-sanitize" -j "$(nproc)"
# Leaks are reported too; a finding of either sanitizer fails its test.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$root/build-sanitize" --output-on-failure -j "$(nproc)"
