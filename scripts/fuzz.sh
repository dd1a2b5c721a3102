#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, ASan and UBSan into build-fuzz/,
# writes the decode target's seed corpus with our encoders, and fuzzes the
# decode path (our Baseline decoder, concealment, output frames) for a bounded
# time. A finding stops it with a non-zero exit and leaves the input in
# build-fuzz/fuzz-artifacts/. New inputs collect in build-fuzz/fuzz-corpus/,
# so a later run goes on from there.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET] [LIBFUZZER_OPTION...]
#   (default 60 decode_fuzz; TARGET decode_fuzz or bitstream_fuzz)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
target=${2:-decode_fuzz}
shift $(( $# < 2 ? $# : 2 ))
build=$root/build-fuzz
for tool in clang clang++; do
  command -v "$tool" >/dev/null || { echo "fuzz.sh: $tool is missing (scripts/install-deps.sh --fuzz installs it)" >&2; exit 1; }
done
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRUNE_FUZZ=ON \
  "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)" --target "$target" decode_fuzz_seeds

seeds=$build/fuzz-seeds/$target
corpus=$build/fuzz-corpus/$target
artifacts=$build/fuzz-artifacts/
rm -rf "$seeds"
mkdir -p "$seeds" "$corpus" "$artifacts"
"$build/tests/tools/decode/decode_fuzz_seeds" "$seeds"
echo "fuzz.sh: $(ls "$seeds" | wc -l) seeds, $(ls "$corpus" | wc -l) inputs kept from earlier runs"

binary=$(find "$build/tests" -name "$target" -type f -perm -u+x | head -n 1)
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# One process (the machine is shared); -timeout flags an input that takes
# longer than 10 s as a hang.
"$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=3072 -print_final_stats=1 \
  -artifact_prefix="$artifacts" "$@" "$corpus" "$seeds"
