#!/bin/sh
# Time to fill the NAL unit map from a general.txt of 1,000,000 NAL units
# (target under 1 s) and to repaint it after a scroll or a selection (target
# under 16 ms), each next to a reference measured in the same run.
# Usage: bench/map_fill.sh [BUILD_DIR] [NAL_UNITS]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/build_dir.sh"
build=$(absolute_build_dir "${1:-$root/build}" create)
count=${2:-1000000}
if [ ! -f "$build/build.ninja" ] && [ ! -f "$build/Makefile" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2 --target map_bench_harness >/dev/null
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} exec "$build/tests/main_window/map_bench_harness" "$count"
