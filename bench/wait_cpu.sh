#!/bin/sh
# The waiting workbench's own CPU time while a 5-second tool runs through the
# runner, as a share of wall time (target: below 2 %), next to a reference
# busy-polling wait measured in the same run.
# Usage: bench/wait_cpu.sh [BUILD_DIR] [SECONDS]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/build_dir.sh"
build=$(absolute_build_dir "${1:-$root/build}" create)
seconds=${2:-5}
if [ ! -f "$build/build.ninja" ] && [ ! -f "$build/Makefile" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2 --target wait_cpu_harness runner_fake_tool >/dev/null
exec "$build/tests/runner/wait_cpu_harness" "$build/tests/runner/runner_fake_tool" "$seconds"
