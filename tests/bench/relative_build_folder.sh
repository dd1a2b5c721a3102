#!/bin/sh
# The benches take their build folder relative to the caller's current
# directory: the two quick ones, run that way from the build folder's parent,
# must measure rather than fail to find their programs.
# Usage: relative_build_folder.sh SOURCE_DIR BUILD_DIR
set -eu
source_dir=$1
cd "$(dirname "$2")"
relative=$(basename "$2")
"$source_dir/bench/wait_cpu.sh" "$relative" 1 | grep "runner share / polling share"
QT_QPA_PLATFORM=offscreen "$source_dir/bench/map_fill.sh" "$relative" 1000 | grep "NAL unit map with 1000 NAL units"
