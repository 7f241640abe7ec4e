#!/usr/bin/env bash
# What the brimtone host adds to the work of decoding and encoding, on 200
# frames of 1920x1080 H.264 (BT.709) with AAC made by ffmpeg, into H.264
# (libx264 veryfast, CRF 18), the sound copied as it is. Rounds run four jobs
# in turn:
#   tiny    the host with a region of one pixel in ten thousand, so that the
#           encoder gets the same pictures as ...
#   plain   ... ffmpeg transcoding the file with the same settings: the floor
#           (the same decoding and encoding, no conversions, no effect);
#   whole   the host with the effect on the whole frame, as ...
#   filter  ... ffmpeg with the brimtone frei0r filter (-c:a copy, as a careful
#           user writes it).
# Prints each run, then the ratios of the medians (wall, CPU = user + system,
# peak memory) of tiny to plain and whole to filter, with the median of the
# rounds' own ratios beside them, then quality on QFRAMES frames:
#   input conversion: PSNR against ffmpeg's bicubic+accurate_rnd+full_chroma_int
#     conversion of the same frames, for the host and for ffmpeg's default;
#   H.264 round trip: PSNR of the decoded file against the frames that went in,
#     for the host's output and for ffmpeg's rgb24 -> yuv420p -> libx264 (its
#     default BT.601 matrix, and BT.709 as the host writes HD).
# Targets: tiny <= 1.10x plain, wall and CPU; whole <= 0.8x filter, wall;
# peak memory <= 1.2x ffmpeg's; input conversion >= 70 dB; the host's round
# trip at least ffmpeg's with BT.709.
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
# No saved configuration takes part: every run is on the defaults.
export XDG_CONFIG_HOME="$work/config"
mkdir -p "$XDG_CONFIG_HOME"
cd "$work"

x264=(-c:v libx264 -preset veryfast -crf 18)
ffmpeg -nostdin -hide_banner -loglevel error -f lavfi -i "testsrc2=size=1920x1080:rate=25" \
  -f lavfi -i "sine=frequency=440:sample_rate=48000" -frames:v "$frames" \
  -vf "scale=out_color_matrix=bt709:out_range=tv,format=yuv420p" \
  -colorspace bt709 -color_primaries bt709 -color_trc bt709 "${x264[@]}" -c:a aac -b:a 192k -shortest in.mp4

# "wall cpu peak_kb" of one command.
measure() {
  /usr/bin/time -f '%e %U %S %M' -o time.txt "$@" >/dev/null 2>&1 || { echo "host_bench: failed: $*" >&2; exit 1; }
  awk '{ printf "%.2f %.2f %d\n", $1, $2 + $3, $4 }' time.txt
}
run_tiny() { rm -f tiny.mp4; measure "$host" render in.mp4 --region 0,0,0.01,0.01 -o tiny.mp4; }
run_plain() { measure ffmpeg -nostdin -y -i in.mp4 "${x264[@]}" -c:a copy plain.mp4; }
run_whole() { rm -f whole.mp4; measure "$host" render in.mp4 -o whole.mp4; }
run_filter() {
  measure ffmpeg -nostdin -y -i in.mp4 -vf "format=rgba,frei0r=brimtone,format=yuv420p" "${x264[@]}" -c:a copy \
    filter.mp4
}

load() { uptime | sed 's/.*load average: //'; }
echo "host_bench: $frames frames of 1920x1080 H.264 + AAC, $repeats rounds; $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) CPUs; load $(load)"
printf '%-8s %8s %8s %10s\n' run wall_s cpu_s peak_MB
jobs=(tiny plain whole filter)
for job in "${jobs[@]}"; do : >"$job.txt"; done
for round in $(seq "$repeats"); do
  for job in "${jobs[@]}"; do
    line="$("run_$job")"
    echo "$line" >>"$job.txt"
    awk -v w="$job$round" '{ printf "%-8s %8.2f %8.2f %10.1f\n", w, $1, $2, $3 / 1024 }' <<<"$line"
  done
done
echo "load afterwards $(load)"

column() { awk -v c="$2" '{ print $c }' "$1.txt" | sort -n; }
median() { awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# The median of each round's ratio of JOB to BASE in COLUMN: the two ran one
# after the other, so a slow spell of a shared machine weighs on both.
paired() {
  paste "$1.txt" "$2.txt" | awk -v c="$3" '{ print $c / $(c + 3) }' | sort -n | median
}
# ratio JOB BASE COLUMN NAME TARGET: the medians' ratio, the spread of JOB's
# runs and the paired ratio.
ratio() {
  awk -v n="$1/$2 $4" -v h="$(column "$1" "$3" | median)" -v f="$(column "$2" "$3" | median)" -v t="$5" \
    -v lo="$(column "$1" "$3" | head -1)" -v hi="$(column "$1" "$3" | tail -1)" -v p="$(paired "$1" "$2" "$3")" \
    'BEGIN { printf "%-24s %.2fx  (medians %g / %g; runs %g..%g; paired %.2fx)%s\n", n, h / f, h, f, lo, hi, p,
             t == "" ? "" : sprintf("  target <= %s: %s", t, (h / f <= t) ? "met" : "missed") }'
}
ratio tiny plain 1 wall 1.10
ratio tiny plain 2 CPU 1.10
ratio tiny plain 3 "peak memory" 1.2
ratio whole filter 1 wall 0.8
ratio whole filter 2 CPU ""
ratio whole filter 3 "peak memory" 1.2

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
input="$(psnr hostin%03d.png ref%03d.png null)"
echo "input conversion vs accurate: host $input  ffmpeg default $(psnr ffdefault%03d.png ref%03d.png null)  target >= 70: $(awk -v p="$input" 'BEGIN { print (p >= 70) ? "met" : "missed" }')"

# The frames the effect gives, losslessly, then each encoder's round trip of them.
"$host" render in.mp4 --frames "$qframes" -o fx%03d.png >/dev/null 2>&1
"$host" render in.mp4 --frames "$qframes" -o fx.mp4 >/dev/null 2>&1
ffmpeg -nostdin -loglevel error -framerate 25 -i fx%03d.png -pix_fmt yuv420p "${x264[@]}" ffrt.mp4
# ffmpeg's default writes HD with the BT.601 matrix, untagged; the host writes
# BT.709 as HD players expect. The same job with BT.709 separates the matrix's
# share of the difference from the converter's.
ffmpeg -nostdin -loglevel error -framerate 25 -i fx%03d.png -vf "scale=out_color_matrix=bt709,format=yuv420p" \
  -colorspace bt709 -color_primaries bt709 -color_trc bt709 "${x264[@]}" ffrt709.mp4
trip="$(psnr fx.mp4 fx%03d.png "$accurate")" trip709="$(psnr ffrt709.mp4 fx%03d.png "$accurate")"
echo "H.264 round trip vs its frames: host $trip  ffmpeg $(psnr ffrt.mp4 fx%03d.png "$accurate")  ffmpeg with BT.709 $trip709  target >= BT.709's: $(awk -v h="$trip" -v f="$trip709" 'BEGIN { print (h >= f) ? "met" : "missed" }')"
