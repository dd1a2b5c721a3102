#!/bin/sh
# ./run-workbench.sh builds the window, its four tools and the sample, and no
# test: run it with the installer, the build script and the window replaced by
# stand-ins, then look up what the targets it asked for are built from.
# Usage: run_workbench_builds_no_tests.sh SOURCE_DIR BUILD_DIR
set -eu
source_dir=$1
build_dir=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/scripts" "$scratch/build/workbench"
cp "$source_dir/run-workbench.sh" "$scratch/"
printf '#!/bin/sh\n' > "$scratch/scripts/install-deps.sh"
printf '#!/bin/sh\necho "$@" > "%s/targets"\n' "$scratch" > "$scratch/scripts/build.sh"
printf '#!/bin/sh\n' > "$scratch/build/workbench/kestrune"
chmod +x "$scratch/scripts/install-deps.sh" "$scratch/scripts/build.sh" "$scratch/build/workbench/kestrune"
"$scratch/run-workbench.sh"

targets=$(cat "$scratch/targets")
[ -n "$targets" ] || { echo "run-workbench.sh builds every target" >&2; exit 1; }
# shellcheck disable=SC2086  # one word per target
inputs=$(ninja -C "$build_dir" -t inputs $targets)
for needed in kestrune kestrune-encode kestrune-decode kestrune-gilbert kestrune-analyze sample_176x144.yuv; do
    echo "$targets $inputs" | grep -q -- "$needed" || { echo "run-workbench.sh does not build $needed" >&2; exit 1; }
done
if echo "$inputs" | grep -E '(_test|harness|_stand_in)$'; then
    echo "run-workbench.sh builds tests (above)" >&2
    exit 1
fi
echo "run-workbench.sh builds: $targets"
