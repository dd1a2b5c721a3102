#!/usr/bin/env bash
# Concealment quality and decode speed on the generated sample sequences with
# 10% of the slices lost (uniform, seeded). For every stream and seed it prints
# the mean Y-PSNR (dB) against the source of:
#   none    -error_concealment 0 -P_error_concealment 0
#   dc/mb/bil  average DC / average macroblock / bilinear in I pictures, P none
#   bma     bilinear in I pictures, boundary matching in P pictures
#   lavc    libavcodec's built-in concealment (error_concealment 3) on the same stream
# A second table loses 10% of the slices of P pictures only (IDR slices kept):
# there the I-picture methods play no part, so it compares boundary matching
# with libavcodec's temporal concealment alone. (libavcodec also conceals I
# pictures temporally when they look like their predecessor; our I methods are
# spatial by design, which costs on long static-camera sequences.)
# and then the decode speed of ours (with concealment) relative to libavcodec
# alone on the same access units (ratio = libavcodec time / our time; target >= 0.75).
#
# usage: bench/decode_quality.sh [BUILD_DIR] [SEEDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
seeds=${2:-5}
tools=$build/tools
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for t in sample/kestrune-make-sample encode/kestrune-encode decode/kestrune-decode decode/kestrune-decode-bench quality/kestrune-quality; do
    [[ -x $tools/$t ]] || { echo "missing $tools/$t: build it first" >&2; exit 1; }
done

mean_y() { "$tools/quality/kestrune-quality" --csv -s "$1" "$2" "$3" | awk -F, '$1 == "mean" { print $2 }'; }

# name size frames slices keyint
streams=(
    "qcif_gop250 176x144 300 9 250"
    "qcif_gop10 176x144 150 9 10"
    "cif_gop250 352x288 150 18 250"
)

printf '%-12s %4s %5s %8s %8s %8s %8s %8s %8s  %s\n' stream seed lost none dc mb bil bma lavc 'bma-lavc'
declare -A sum
for s in "${streams[@]}"; do
    read -r name size frames slices keyint <<<"$s"
    w=${size%x*}; h=${size#*x}
    "$tools/sample/kestrune-make-sample" --width "$w" --height "$h" --frames "$frames" -o "$work/$name.yuv" >/dev/null
    minkey=$(( keyint < 25 ? keyint : 25 ))
    "$tools/encode/kestrune-encode" --bitrate $(( w * h / 50 )) --min-keyint "$minkey" --keyint "$keyint" --scenecut 40 \
        --fps 25 --slices "$slices" --me hex --ref 1 --mixed-refs --merange 16 --partitions i8x8i4x4p8x8 \
        "$work/$name.yuv" -o "$work/$name.264" "$size" >/dev/null 2>&1
    for seed in $(seq 1 "$seeds"); do
        lossy=$work/${name}_$seed.264
        lost=$("$tools/decode/kestrune-decode-bench" drop --rate 0.1 --seed "$seed" "$work/$name.264" "$lossy" | awk '{print $2}')
        row=()
        for m in "0 0" "1 0" "2 0" "3 0" "3 1"; do
            read -r i p <<<"$m"
            "$tools/decode/kestrune-decode" -error_concealment "$i" -P_error_concealment "$p" -i "$lossy" -y "$work/out.yuv" >/dev/null
            row+=("$(mean_y "$size" "$work/$name.yuv" "$work/out.yuv")")
        done
        "$tools/decode/kestrune-decode-bench" reference --ec 3 -i "$lossy" -y "$work/ref.yuv" >/dev/null
        row+=("$(mean_y "$size" "$work/$name.yuv" "$work/ref.yuv")")
        diff=$(awk -v a="${row[4]}" -v b="${row[5]}" 'BEGIN { printf "%+.3f", a - b }')
        printf '%-12s %4s %5s %8s %8s %8s %8s %8s %8s  %s\n' "$name" "$seed" "$lost" "${row[@]}" "$diff"
        for k in 0 1 2 3 4 5; do sum[$name,$k]=$(awk -v a="${sum[$name,$k]:-0}" -v b="${row[$k]}" 'BEGIN { print a + b }'); done
    done
    means=()
    for k in 0 1 2 3 4 5; do means+=("$(awk -v a="${sum[$name,$k]}" -v n="$seeds" 'BEGIN { printf "%.3f", a / n }')"); done
    printf '%-12s %4s %5s %8s %8s %8s %8s %8s %8s\n' "$name" mean "" "${means[@]}"
done

echo
echo "P pictures only lose slices (10%): boundary matching vs libavcodec"
printf '%-12s %4s %5s %8s %8s  %s\n' stream seed lost bma lavc 'bma-lavc'
for s in "${streams[@]}"; do
    read -r name size _ <<<"$s"
    total=0
    for seed in $(seq 1 "$seeds"); do
        lossy=$work/${name}_p$seed.264
        lost=$("$tools/decode/kestrune-decode-bench" drop --keep-idr --rate 0.1 --seed "$seed" "$work/$name.264" "$lossy" | awk '{print $2}')
        "$tools/decode/kestrune-decode" -i "$lossy" -y "$work/out.yuv" >/dev/null
        ours=$(mean_y "$size" "$work/$name.yuv" "$work/out.yuv")
        "$tools/decode/kestrune-decode-bench" reference --ec 3 -i "$lossy" -y "$work/ref.yuv" >/dev/null
        theirs=$(mean_y "$size" "$work/$name.yuv" "$work/ref.yuv")
        diff=$(awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "%+.3f", a - b }')
        total=$(awk -v t="$total" -v d="$diff" 'BEGIN { print t + d }')
        printf '%-12s %4s %5s %8s %8s  %s\n' "$name" "$seed" "$lost" "$ours" "$theirs" "$diff"
    done
    printf '%-12s %4s %5s %8s %8s  %+.3f\n' "$name" mean "" "" "" "$(awk -v t="$total" -v n="$seeds" 'BEGIN { print t / n }')"
done
echo
echo "decode speed, ratio = libavcodec alone / ours (>= 0.75 wanted), 5 alternating runs each"
for s in "${streams[@]}"; do
    read -r name _ <<<"$s"
    for f in "$work/$name.264" "$work/${name}_1.264"; do
        printf '%-20s ' "$(basename "$f")"
        "$tools/decode/kestrune-decode-bench" time -i "$f" --repeat 5
    done
done
