#!/usr/bin/env bash
# Concealment quality and decode speed on the generated sample sequences,
# several seeds of uniform slice loss at 10%. Each figure is the mean Y-PSNR
# (dB) against the source; lavc is libavcodec's built-in concealment
# (error_concealment 3) on the same damaged stream.
#
# Each table holds the other picture type's method fixed, so a column differs
# from its neighbour only in the method it names:
# 1. All slices may be lost. none = -error_concealment 0 -P_error_concealment 0
#    (every lost block grey). The I-method columns all use boundary matching in
#    P pictures; "I none" is the baseline they must beat (grey in I pictures
#    only). "bil" is the default pair (bilinear + boundary matching).
# 2. Only IDR slices may be lost (streams with an IDR picture every 10): the
#    intra methods alone, their error carried on by the intact P pictures.
# 3. Only P slices may be lost: boundary matching alone against libavcodec's
#    temporal concealment.
# Then decode speed of ours (with concealment) relative to libavcodec alone on
# the same access units (ratio = libavcodec time / our time; target >= 0.75).
# (libavcodec also conceals I pictures temporally when they look like their
# predecessor; our I methods are spatial by definition.)
#
# usage: bench/decode_quality.sh [BUILD_DIR] [SEEDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/build_dir.sh"
build=$(absolute_build_dir "${1:-$root/build}")
seeds=${2:-5}
tools=$build/tools
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for t in sample/kestrune-make-sample encode/kestrune-encode decode/kestrune-decode decode/kestrune-decode-bench quality/kestrune-quality; do
    [[ -x $tools/$t ]] || { echo "missing $tools/$t: build it first" >&2; exit 1; }
done

mean_y() { "$tools/quality/kestrune-quality" --csv -s "$1" "$2" "$3" | awk -F, '$1 == "mean" { print $2 }'; }
ours() { "$tools/decode/kestrune-decode" -error_concealment "$1" -P_error_concealment "$2" -i "$3" -y "$work/out.yuv" >/dev/null; }
theirs() { "$tools/decode/kestrune-decode-bench" reference --ec 3 -i "$1" -y "$work/out.yuv" >/dev/null; }
dropped() { "$tools/decode/kestrune-decode-bench" drop "$@" | awk '{print $2}'; }

# name size frames slices keyint
streams=(
    "qcif_gop250 176x144 300 9 250"
    "qcif_gop10 176x144 150 9 10"
    "cif_gop250 352x288 150 18 250"
    "cif_gop10 352x288 150 18 10"
)

for s in "${streams[@]}"; do
    read -r name size frames slices keyint <<<"$s"
    w=${size%x*}; h=${size#*x}
    "$tools/sample/kestrune-make-sample" --width "$w" --height "$h" --frames "$frames" -o "$work/$name.yuv" >/dev/null
    minkey=$(( keyint < 25 ? keyint : 25 ))
    "$tools/encode/kestrune-encode" --bitrate $(( w * h / 50 )) --min-keyint "$minkey" --keyint "$keyint" --scenecut 40 \
        --fps 25 --slices "$slices" --me hex --ref 1 --mixed-refs --merange 16 --partitions i8x8i4x4p8x8 \
        "$work/$name.yuv" -o "$work/$name.264" "$size" >/dev/null 2>&1
done

# table TITLE DROP_OPTION STREAM_FILTER (I P)... : one column per method pair, then lavc and first-column-minus-lavc
# when the first pair is the one to compare, else the last pair minus lavc.
table() {
    local title=$1 scope=$2 filter=$3; shift 3
    local pairs=("$@") heads=()
    echo
    echo "$title"
    for p in "${pairs[@]}"; do heads+=("${p%%=*}"); done
    printf '%-12s %4s %5s' stream seed lost; printf ' %8s' "${heads[@]}" lavc; printf '  %s\n' "${heads[-1]}-lavc"
    for s in "${streams[@]}"; do
        read -r name size _ _ keyint <<<"$s"
        [[ $keyint =~ $filter ]] || continue
        local sums=()
        for seed in $(seq 1 "$seeds"); do
            local lossy=$work/${name}_$seed.264 row=()
            local lost; lost=$(dropped $scope --rate 0.1 --seed "$seed" "$work/$name.264" "$lossy")
            for p in "${pairs[@]}"; do
                read -r i pm <<<"${p#*=}"
                ours "$i" "$pm" "$lossy"
                row+=("$(mean_y "$size" "$work/$name.yuv" "$work/out.yuv")")
            done
            theirs "$lossy"
            row+=("$(mean_y "$size" "$work/$name.yuv" "$work/out.yuv")")
            local diff; diff=$(awk -v a="${row[-2]}" -v b="${row[-1]}" 'BEGIN { printf "%+.3f", a - b }')
            printf '%-12s %4s %5s' "$name" "$seed" "$lost"; printf ' %8s' "${row[@]}"; printf '  %s\n' "$diff"
            for k in "${!row[@]}"; do sums[k]=$(awk -v a="${sums[k]:-0}" -v b="${row[k]}" 'BEGIN { print a + b }'); done
            sums[${#row[@]}]=$(awk -v a="${sums[${#row[@]}]:-0}" -v b="$diff" 'BEGIN { print a + b }')
        done
        local means=()
        for k in "${!sums[@]}"; do means+=("$(awk -v a="${sums[k]}" -v n="$seeds" 'BEGIN { printf "%.3f", a / n }')"); done
        printf '%-12s %4s %5s' "$name" mean ""; printf ' %8s' "${means[@]:0:${#means[@]}-1}"; printf '  %+.3f\n' "${means[-1]}"
    done
}

table "1. all slices may be lost (10%): none = grey everywhere; I methods with boundary matching in P pictures" \
    "" "." "none=0 0" "Inone=0 1" "dc=1 1" "mb=2 1" "bil=3 1"
table "2. only IDR slices may be lost (10%): the intra methods alone" \
    --idr-only "^10$" "none=0 1" "dc=1 1" "mb=2 1" "bil=3 1"
table "3. only P slices may be lost (10%): boundary matching alone" \
    --keep-idr "." "bma=3 1"

echo
echo "decode speed, ratio = libavcodec alone / ours (>= 0.75 wanted), 5 alternating runs each"
for s in "${streams[@]}"; do
    read -r name _ <<<"$s"
    "$tools/decode/kestrune-decode-bench" drop --rate 0.1 --seed 1 "$work/$name.264" "$work/${name}_1.264" >/dev/null
    for f in "$work/$name.264" "$work/${name}_1.264"; do
        printf '%-20s ' "$(basename "$f")"
        "$tools/decode/kestrune-decode-bench" time -i "$f" --repeat 5
    done
done
