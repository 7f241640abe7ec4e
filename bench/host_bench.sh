#!/usr/bin/env bash
# The brimtone host against ffmpeg with the brimtone frei0r filter, on the same
# job: 200 frames of 1920x1080 H.264 (BT.709) with AAC, made by ffmpeg, through
# the effect with its defaults, into H.264 (libx264 veryfast, CRF 18), the sound
# copied as it is (the host copies it; ffmpeg is given -c:a copy, as a careful
# user writes it). Rounds run the two in turn; prints each run and the ratios of the
# medians (wall, CPU = user + system, peak memory), then quality on QFRAMES
# frames:
#   input conversion: PSNR against ffmpeg's bicubic+accurate_rnd+full_chroma_int
#     conversion of the same frames, for the host and for ffmpeg's default;
#   H.264 round trip: PSNR of the decoded file against the frames that went in,
#     for the host's output and for ffmpeg's rgb24 -> yuv420p -> libx264 (its
#     default BT.601 matrix, and BT.709 as the host writes HD).
# Targets: wall <= 1.0x, CPU <= 1.1x, memory <= 1.2x; host PSNRs >= ffmpeg's.
#
# Usage: bench/host_bench.sh [BUILD_DIR]   (default: build)
# REPEATS=5 for more rounds (default 3); QFRAMES=30 frames for quality.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="$(realpath -m "${1:-$root/build}")"
repeats="${REPEATS:-3}"
qframes="${QFRAMES:-30}"
frames=200

command -v ffmpeg >/dev/null || { echo "host_bench: ffmpeg is not installed (apt-get install ffmpeg)" >&2; exit 1; }
[ -f "$build_dir/CMakeCache.txt" ] || { echo "host_bench: no build in $build_dir (run scripts/build.sh)" >&2; exit 1; }
cmake --build "$build_dir" -j2 --target brimtone brimtone_frei0r host_frames >/dev/null
host="$build_dir/host/brimtone"
export FREI0R_PATH="$build_dir/frei0r"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# No saved configuration takes part: both run on the defaults.
export XDG_CONFIG_HOME="$work/config"
mkdir -p "$XDG_CONFIG_HOME"
cd "$work"

encode=(-c:v libx264 -preset veryfast -crf 18 -c:a aac -b:a 192k)
ffmpeg -nostdin -hide_banner -loglevel error -f lavfi -i "testsrc2=size=1920x1080:rate=25" \
  -f lavfi -i "sine=frequency=440:sample_rate=48000" -frames:v "$frames" \
  -vf "scale=out_color_matrix=bt709:out_range=tv,format=yuv420p" \
  -colorspace bt709 -color_primaries bt709 -color_trc bt709 "${encode[@]}" -shortest in.mp4

# "wall cpu peak_kb" of one command.
measure() {
  /usr/bin/time -f '%e %U %S %M' -o time.txt "$@" >/dev/null 2>&1 || { echo "host_bench: failed: $*" >&2; exit 1; }
  awk '{ printf "%.2f %.2f %d\n", $1, $2 + $3, $4 }' time.txt
}
run_host() { rm -f host.mp4; measure "$host" render in.mp4 -o host.mp4; }
run_ffmpeg() {
  measure ffmpeg -nostdin -y -i in.mp4 -vf "format=rgba,frei0r=brimtone,format=yuv420p" \
    -c:v libx264 -preset veryfast -crf 18 -c:a copy ffmpeg.mp4
}

echo "host_bench: $frames frames of 1920x1080 H.264 + AAC, $repeats rounds; $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) CPUs; load $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-8s %8s %8s %10s\n' run wall_s cpu_s peak_MB
: >host.txt
: >ffmpeg.txt
for round in $(seq "$repeats"); do
  for who in host ffmpeg; do
    line="$("run_$who")"
    echo "$line" >>"$who.txt"
    awk -v w="$who$round" '{ printf "%-8s %8.2f %8.2f %10.1f\n", w, $1, $2, $3 / 1024 }' <<<"$line"
  done
done
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() {
  local h f
  h="$(awk -v c="$1" '{ print $c }' host.txt | median)"
  f="$(awk -v c="$1" '{ print $c }' ffmpeg.txt | median)"
  awk -v n="$2" -v h="$h" -v f="$f" -v t="$3" -v lo="$(awk -v c="$1" '{ print $c }' host.txt | sort -n | head -1)" \
    -v hi="$(awk -v c="$1" '{ print $c }' host.txt | sort -n | tail -1)" \
    'BEGIN { printf "%-12s host/ffmpeg %.2fx  (medians %g / %g; host runs %g..%g; target <= %s: %s)\n",
             n, h / f, h, f, lo, hi, t, (h / f <= t) ? "met" : "missed" }'
}
ratio 1 wall 1.0
ratio 2 CPU 1.1
ratio 3 "peak memory" 1.2

# Average PSNR (dB) of two frame sequences, after the given filter on the first.
psnr() {
  ffmpeg -nostdin -hide_banner -i "$1" -i "$2" -frames:v "$qframes" \
    -lavfi "[0:v]$3,format=rgb24[a];[1:v]format=rgb24[b];[a][b]psnr" -f null - 2>&1 |
    sed -n 's/.*PSNR.*average:\([0-9.inf]*\).*/\1/p' | tail -n 1
}
accurate="scale=flags=bicubic+accurate_rnd+full_chroma_int"
ffmpeg -nostdin -loglevel error -i in.mp4 -frames:v "$qframes" -vf "$accurate,format=rgb24" ref%03d.png
ffmpeg -nostdin -loglevel error -i in.mp4 -frames:v "$qframes" -vf "format=rgb24" ffdefault%03d.png
"$build_dir/bench/host_frames" in.mp4 "$qframes" hostin%03d.png
echo "quality, $qframes frames (PSNR dB; higher is closer)"
echo "input conversion vs accurate: host $(psnr hostin%03d.png ref%03d.png null)  ffmpeg default $(psnr ffdefault%03d.png ref%03d.png null)"

# The frames the effect gives, losslessly, then each encoder's round trip of them.
"$host" render in.mp4 --frames "$qframes" -o fx%03d.png >/dev/null 2>&1
"$host" render in.mp4 --frames "$qframes" -o fx.mp4 >/dev/null 2>&1
ffmpeg -nostdin -loglevel error -framerate 25 -i fx%03d.png -pix_fmt yuv420p -c:v libx264 -preset veryfast -crf 18 ffrt.mp4
# ffmpeg's default writes HD with the BT.601 matrix, untagged; the host writes
# BT.709 as HD players expect. The same job with BT.709 separates the matrix's
# share of the difference from the converter's.
ffmpeg -nostdin -loglevel error -framerate 25 -i fx%03d.png -vf "scale=out_color_matrix=bt709,format=yuv420p" \
  -colorspace bt709 -color_primaries bt709 -color_trc bt709 -c:v libx264 -preset veryfast -crf 18 ffrt709.mp4
echo "H.264 round trip vs its frames: host $(psnr fx.mp4 fx%03d.png "$accurate")  ffmpeg $(psnr ffrt.mp4 fx%03d.png "$accurate")  ffmpeg with BT.709 $(psnr ffrt709.mp4 fx%03d.png "$accurate")"
