# Sourced by the encoder benches: the built tools, a scratch directory (the
# current directory from here on) and the window's default encoder options.
# Expects $build to be set.
encoder="$build/tools/encode/kestrune-encode"
make_sample="$build/tools/sample/kestrune-make-sample"
for tool in "$encoder" "$make_sample"; do
  [[ -x "$tool" ]] || { echo "missing $tool: build the targets kestrune-encode and kestrune-make-sample" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# The window's default line before the file names (partition names arrive back to back).
window_options=(--bitrate 500 --min-keyint 25 --keyint 250 --scenecut 40 --fps 25 --slices 1 --me hex
                --ref 1 --mixed-refs --merange 16 --partitions i8x8i4x4p8x8)
