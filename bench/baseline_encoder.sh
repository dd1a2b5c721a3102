#!/usr/bin/env bash
# Our Baseline encoder (x264.exe --slice-groups) against libx264:
# 1. coding efficiency with one slice group against Debian's x264 with
#    --profile baseline --tune psnr and the same reference count, search and
#    partitions, as a Bjontegaard delta rate (luma PSNR) over QP 22/27/32/37
#    on the QCIF and CIF samples (target: at most +25 %);
# 2. speed as a ratio of CPU times on the same settings (target: >= 0.2);
# 3. the cost of slice groups: bitrate at equal QP for 2, 4 and 8 dispersed
#    groups against one.
# Usage: bench/baseline_encoder.sh [BUILD_DIR] [FRAMES]
set -euo pipefail

build=$(realpath "${1:-build}")
frames=${2:-60}
source "$(dirname "$0")/encode_common.sh"

if ! command -v x264 >/dev/null; then
  sudo=""; [[ $(id -u) -ne 0 ]] && sudo="sudo"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends x264 >/dev/null
fi

shared=(--keyint 250 --min-keyint 25 --scenecut 40 --fps 25 --me hex --ref 3 --mixed-refs --merange 16)

# Prints "kbps psnr_y cpu_seconds" of one run from its report.
run() {
  local TIMEFORMAT='%U %S' times log="$work/run.log"
  times=$( { time "$@" >"$log" 2>&1; } 2>&1 )
  local line
  line=$(grep 'PSNR Mean Y:' "$log" | tail -1)
  local kbps psnr
  kbps=$(sed -E 's/.*kb\/s:([0-9.]+).*/\1/' <<<"$line")
  psnr=$(sed -E 's/.*PSNR Mean Y:([0-9.]+).*/\1/' <<<"$line")
  awk -v k="$kbps" -v p="$psnr" '{ printf "%s %s %.3f\n", k, p, $1 + $2 }' <<<"$times"
}

bd_rate() {  # reads "rateA psnrA rateB psnrB" lines; prints B's delta rate in percent
  python3 -c '
import math, sys
rows = [list(map(float, l.split())) for l in sys.stdin if l.strip()]
def fit(points):  # cubic through the points by least squares (4 points: exact)
    n = 4
    A = [[p ** k for k in range(n)] for p, _ in points]
    b = [math.log10(r) for _, r in points]
    M = [[sum(A[i][r] * A[i][c] for i in range(len(A))) for c in range(n)] + [sum(A[i][r] * b[i] for i in range(len(A)))] for r in range(n)]
    for c in range(n):
        piv = max(range(c, n), key=lambda r: abs(M[r][c]))
        M[c], M[piv] = M[piv], M[c]
        for r in range(n):
            if r != c:
                f = M[r][c] / M[c][c]
                M[r] = [x - f * y for x, y in zip(M[r], M[c])]
    return [M[k][n] / M[k][k] for k in range(n)]
def integral(c, lo, hi):
    return sum(c[k] * (hi ** (k + 1) - lo ** (k + 1)) / (k + 1) for k in range(4))
a = [(r[1], r[0]) for r in rows]
b = [(r[3], r[2]) for r in rows]
lo = max(min(p for p, _ in a), min(p for p, _ in b))
hi = min(max(p for p, _ in a), max(p for p, _ in b))
ca, cb = fit(a), fit(b)
diff = (integral(cb, lo, hi) - integral(ca, lo, hi)) / (hi - lo)
print("%.1f" % ((10 ** diff - 1) * 100))
'
}

for size in 176x144 352x288; do
  w=${size%x*}; h=${size#*x}
  "$make_sample" --width "$w" --height "$h" --frames "$frames" -o "sample_$size.yuv"
  pairs="" cpu_ours=0 cpu_ref=0
  echo "== $size, $frames frames"
  for qp in 22 27 32 37; do
    read -r k_ref p_ref c_ref < <(run x264 --profile baseline --tune psnr --qp "$qp" "${shared[@]}" --partitions i4x4,p8x8,p4x4 \
        --bframes 0 --weightp 0 --psnr --demuxer raw --input-res "$size" -o ref.264 "sample_$size.yuv")
    read -r k_ours p_ours c_ours < <(run "$encoder" --slice-groups 1 --qp "$qp" "${shared[@]}" --partitions i4x4p8x8p4x4 \
        --no-ssim "sample_$size.yuv" -o ours.264 "$size")
    printf 'QP %d: x264 %8.2f kbit/s %6.3f dB %6.2f s | ours %8.2f kbit/s %6.3f dB %6.2f s\n' \
      "$qp" "$k_ref" "$p_ref" "$c_ref" "$k_ours" "$p_ours" "$c_ours"
    pairs+="$k_ref $p_ref $k_ours $p_ours"$'\n'
    cpu_ours=$(echo "$cpu_ours + $c_ours" | bc -l); cpu_ref=$(echo "$cpu_ref + $c_ref" | bc -l)
  done
  printf 'BD-rate ours against x264 baseline: %s %%  (target <= +25 %%)\n' "$(bd_rate <<<"$pairs")"
  printf 'speed ratio ours/x264 by cpu time: %.3f  (target >= 0.2)\n' "$(echo "$cpu_ref / $cpu_ours" | bc -l)"
done

echo "== cost of dispersed slice groups, 352x288, QP 27"
read -r k_one _ _ < <(run "$encoder" --slice-groups 1 --qp 27 "${shared[@]}" --partitions i4x4p8x8 --no-ssim sample_352x288.yuv -o one.264 352x288)
for groups in 2 4 8; do
  read -r k_n _ _ < <(run "$encoder" --slice-groups "$groups" --qp 27 "${shared[@]}" --partitions i4x4p8x8 --no-ssim sample_352x288.yuv -o n.264 352x288)
  printf '%d groups: %.2f kbit/s against %.2f with one: %+.1f %%\n' "$groups" "$k_n" "$k_one" "$(echo "($k_n / $k_one - 1) * 100" | bc -l)"
done
