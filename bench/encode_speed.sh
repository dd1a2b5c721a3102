#!/usr/bin/env bash
# Encoding speed of the window's default command line on the CIF sample,
# against Debian's x264 command-line encoder given the equivalent options,
# measured alternately in the same run; and the bitrate reached against the
# 500 kbit/s target.
# Usage: bench/encode_speed.sh [BUILD_DIR] [ROUNDS]   (target: ratio >= 0.95)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/build_dir.sh"
build=$(absolute_build_dir "${1:-$root/build}")
rounds=${2:-5}
source "$(dirname "$0")/encode_common.sh"

if ! command -v x264 >/dev/null; then
  # The reference encoder is needed for this measurement only.
  sudo=""; [[ $(id -u) -ne 0 ]] && sudo="sudo"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends x264 >/dev/null
fi

"$make_sample" --width 352 --height 288 --frames 300 -o sample_352x288.yuv

ours=("${window_options[@]}" sample_352x288.yuv -o ours.264 352x288)
# The same settings for the reference: I and P only, no weighted P, PSNR and SSIM on.
reference=(--bitrate 500 --min-keyint 25 --keyint 250 --scenecut 40 --fps 25 --slices 1 --me hex
           --ref 1 --mixed-refs --merange 16 --partitions i8x8,i4x4,p8x8 --bframes 0 --weightp 0
           --psnr --ssim --demuxer raw --input-res 352x288 -o reference.264 sample_352x288.yuv)

# Prints "wall cpu" seconds of one run (cpu = user + system, which other
# users of a shared machine disturb far less than wall time).
measure() {
  local TIMEFORMAT='%R %U %S' times
  times=$( { time "$@" >>"$work/log" 2>&1; } 2>&1 )
  awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' <<<"$times"
}

declare -A wall=([ours]=0 [x264]=0) cpu=([ours]=0 [x264]=0)
for ((round = 1; round <= rounds; round++)); do
  # Alternate which one goes first, so neither always meets the same load.
  if ((round % 2)); then
    read -r w_ours c_ours < <(measure "$encoder" "${ours[@]}")
    read -r w_ref c_ref < <(measure x264 "${reference[@]}")
  else
    read -r w_ref c_ref < <(measure x264 "${reference[@]}")
    read -r w_ours c_ours < <(measure "$encoder" "${ours[@]}")
  fi
  printf 'round %d: ours %s s wall %s s cpu, x264 %s s wall %s s cpu\n' "$round" "$w_ours" "$c_ours" "$w_ref" "$c_ref"
  wall[ours]=$(echo "${wall[ours]} + $w_ours" | bc -l); cpu[ours]=$(echo "${cpu[ours]} + $c_ours" | bc -l)
  wall[x264]=$(echo "${wall[x264]} + $w_ref" | bc -l); cpu[x264]=$(echo "${cpu[x264]} + $c_ref" | bc -l)
done

printf 'speed ratio ours/x264 by cpu time:  %.3f  (target >= 0.95)\n' "$(echo "${cpu[x264]} / ${cpu[ours]}" | bc -l)"
printf 'speed ratio ours/x264 by wall time: %.3f  (load on the machine: %s)\n' \
  "$(echo "${wall[x264]} / ${wall[ours]}" | bc -l)" "$(cut -d' ' -f1-3 /proc/loadavg)"

summary=$("$encoder" "${ours[@]}" 2>/dev/null | grep '^encoded')
kbps=$(sed -E 's/.* ([0-9.]+) kb\/s.*/\1/' <<<"$summary")
printf 'bitrate reached: %s kbit/s for a 500 kbit/s target (%.3f of target)\n' "$kbps" "$(echo "$kbps / 500" | bc -l)"
printf 'stream sizes: ours %d bytes, x264 %d bytes\n' "$(stat -c %s ours.264)" "$(stat -c %s reference.264)"
# The size cost of the picture numbering that lets a decoder place every
# picture after losses (log2_max_frame_num 16, idr_pic_id = picture number).
for gop in 10 250; do
  "$encoder" "${window_options[@]/#250/$gop}" sample_352x288.yuv -o gop.264 352x288 2>&1 \
    | grep -h 'picture numbering' | sed "s/^.*\]: /size cost at GOP $gop: /"
done
